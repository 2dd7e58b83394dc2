#pragma once
// The in-use window: which files other programs hold, which programs those are, and the choice
// to close them, retry or stop. It closes by itself when the engine sees the files free again.
#include <vector>

namespace sv {

class LocaleTable;
class UpdateEngine;
class WebView;

constexpr wchar_t kInUseClass[] = L"SarvikInUse";
constexpr int kInUseCloseId = 103;
constexpr int kInUseRetryId = 104;
constexpr int kInUseCancelId = 105;
// The cancel answer; the engine stops the update for anything but retry and close.
constexpr int kInUseCancelAnswer = 0;

class InUseDialog {
 public:
  InUseDialog() = default;
  ~InUseDialog() { Close(); }
  InUseDialog(const InUseDialog&) = delete;
  InUseDialog& operator=(const InUseDialog&) = delete;

  // owner: the main HWND (its title becomes the dialog's); fonts: HFONTs; others: web views
  // disabled while open. Nothing happens when one is open already or there is no engine; a
  // window that cannot be created answers retry.
  void Show(void* owner, UpdateEngine* engine, const LocaleTable& locale, void* regularFont,
            void* boldFont, const std::vector<WebView*>& others);
  // Closes without an answer (the engine found the files free, or the patcher is closing).
  void Close();
  // Closes, then gives the engine the answer (1 retry, 0 cancel, 2 close the programs).
  void Answer(int choice);

  bool IsOpen() const { return hwnd_ != nullptr; }
  void* Hwnd() const { return hwnd_; }
  bool PreTranslate(void* msg);

  intptr_t HandleMessage(void* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);

 private:
  void* hwnd_ = nullptr;
  void* owner_ = nullptr;
  UpdateEngine* engine_ = nullptr;
  std::vector<WebView*> others_;
};

}  // namespace sv
