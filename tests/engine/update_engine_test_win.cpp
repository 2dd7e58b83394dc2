#include "patcher/engine/update_engine.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "common/file.h"
#include "common/path.h"
#include "skin/skin_definition.h"

namespace sv {
namespace {

// A message-only window that counts what the engine posts.
struct Counter {
  HWND window = nullptr;
  int done = 0;
  WPARAM lastDone = 99;

  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<Counter*>(GetWindowLongPtrW(w, GWLP_USERDATA));
    if (self && m == WM_SV_DONE) {
      ++self->done;
      self->lastDone = wp;
      return 0;
    }
    return DefWindowProcW(w, m, wp, lp);
  }

  Counter() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"SvEngineTestCounter";
    RegisterClassW(&wc);
    window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(this));
  }
  ~Counter() { DestroyWindow(window); }

  void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms) {
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      Sleep(10);
    }
  }
};

std::wstring GameFolder(const wchar_t* name) {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = joinPath(temp, name);
  createDirectories(folder);
  return folder;
}

// Nothing listens on port 1: every configuration fetch fails, after the retries' 1 s and 2 s.
constexpr wchar_t kDeadConfig[] = L"http://127.0.0.1:1/config.xml";

TEST(UpdateEngine, SecondStartDuringARunStartsNothingAndFailureIsReported) {
  Counter counter;
  SkinDefinition skin;
  skin.remoteConfigPath = kDeadConfig;
  UpdateEngine* engine =
      UpdateEngine::Create(skin, GameFolder(L"sv_engine_test_start"), counter.window, false);
  engine->Start();
  engine->Start();
  counter.Pump(5000);
  EXPECT_EQ(counter.done, 1);
  EXPECT_EQ(counter.lastDone, 0u);
  const StatusSnapshot s = engine->GetStatus();
  EXPECT_EQ(s.phase, kPhaseFailed);
  // The status shows the first line; the whole text stays for display.
  EXPECT_EQ(s.statusText, s.errorText.substr(0, s.errorText.find(L'\n')));
  EXPECT_NE(s.errorText.find(L'\n'), std::wstring::npos);
  EXPECT_TRUE(engine->Shutdown());
}

TEST(UpdateEngine, ShutdownDuringARunIsQuickAndPostsNoDone) {
  Counter counter;
  SkinDefinition skin;
  skin.remoteConfigPath = kDeadConfig;
  UpdateEngine* engine =
      UpdateEngine::Create(skin, GameFolder(L"sv_engine_test_shutdown"), counter.window, false);
  engine->Start();
  counter.Pump(300);
  const DWORD before = GetTickCount();
  EXPECT_TRUE(engine->Shutdown());
  EXPECT_LE(GetTickCount() - before, 1500u);
  counter.Pump(300);
  EXPECT_EQ(counter.done, 0);
}

TEST(UpdateEngine, MissingConfigurationAddressFailsAtOnce) {
  Counter counter;
  SkinDefinition skin;
  UpdateEngine* engine =
      UpdateEngine::Create(skin, GameFolder(L"sv_engine_test_noconfig"), counter.window, false);
  engine->Start();
  counter.Pump(1000);
  EXPECT_EQ(counter.done, 1);
  const StatusSnapshot s = engine->GetStatus();
  EXPECT_NE(s.errorText.find(L"\n(url.xml: remoteConfigPath boş)"), std::wstring::npos);
  EXPECT_TRUE(engine->Shutdown());
}

}  // namespace
}  // namespace sv
