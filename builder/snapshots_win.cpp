// Snapshot mode: every section captured as PNG at the full and at the minimum size, with a
// patcher built in between, for documentation; then the program ends.
#include <cstdio>

#include "builder/builder_window_win.h"
#include "builder/form_fields.h"
#include "common/file.h"
#include "common/path.h"
#include "common/text.h"

namespace sv {

namespace {

std::wstring SnapshotName(int section, const wchar_t* suffix) {
  wchar_t name[64];
  swprintf(name, 64, L"%d_%hs%ls.png", section, kFormSections[size_t(section)].key, suffix);
  return name;
}

}  // namespace

bool BuilderWindow::CaptureWindowPng(const std::wstring& path) {
  RECT client{};
  GetClientRect(hwnd_, &client);
  if (client.right <= 0 || client.bottom <= 0) return false;
  HDC screen = GetDC(hwnd_);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
  HGDIOBJ old = SelectObject(dc, bitmap);
  // PW_CLIENTONLY (1): the client area only.
  if (!PrintWindow(hwnd_, dc, 1)) PaintAll(dc, true);
  SelectObject(dc, old);
  const bool ok = SaveBitmapPng(bitmap, path);
  DeleteObject(bitmap);
  DeleteDC(dc);
  ReleaseDC(hwnd_, screen);
  return ok;
}

void BuilderWindow::RunSnapshots() {
  createDirectories(snapshot_.folder);
  if (!snapshot_.skinPath.empty()) {
    LoadSkinNow(snapshot_.skinPath, true);
    RebuildLivePreview();
  }
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring buildFolder = joinPath(temp, L"sv_snap_out");
  createDirectories(buildFolder);
  values_.setField(kFieldOutPath, joinPath(buildFolder, kDefaultOutputName));
  WriteFields();

  auto capture = [this](int section, const wchar_t* suffix) {
    SelectSection(section);
    UpdateWindow(hwnd_);
    CaptureWindowPng(joinPath(snapshot_.folder, SnapshotName(section, suffix)));
  };
  // The build section is captured again after the build under its own name; its capture before
  // the build is kept as "5_derleme_once" so that neither overwrites the other.
  auto sections = [&](const std::wstring& suffix) {
    for (int i = 0; i < kSectionCount; ++i)
      capture(i, (i == kSectionBuild ? L"_once" + suffix : suffix).c_str());
  };
  sections(L"");
  if (skin_.loaded) {
    const std::wstring output = trim(values_.field(kFieldOutPath));
    AddLog(L"Oluşturma başladı → " + output, kLogSuccess);
    startTick_ = GetTickCount();
    resultPath_ = output;
    auto* result = new BuildResult;
    RunBuildNow(output, *result);
    OnBuildFinished(result);
  }
  SelectSection(kSectionBuild);
  UpdateWindow(hwnd_);
  CaptureWindowPng(joinPath(snapshot_.folder, L"5_derleme.png"));

  ResizeClient(MulDiv(kMinClientWidth, dpi_, 96), MulDiv(kMinClientHeight, dpi_, 96));
  sections(L"_min");
  SelectSection(kSectionBuild);
  UpdateWindow(hwnd_);
  CaptureWindowPng(joinPath(snapshot_.folder, L"5_derleme_min.png"));
  DestroyWindow(hwnd_);
}

}  // namespace sv
