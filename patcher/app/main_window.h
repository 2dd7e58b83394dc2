#pragma once
// The patcher's only top-level window: borderless, the skin's size, drawn from the skin.
#include <cstdint>
#include <string>

namespace sv {

class SkinDefinition;

// Also how a second patcher of the same folder finds the first one's window.
constexpr wchar_t kMainWindowClass[] = L"SarvikWnd";

class MainWindow {
public:
  // `skin` must outlive the window.
  MainWindow(const SkinDefinition& skin, std::wstring gameFolder, bool preview);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Registers the class, creates the window centred in the work area and shows it in front.
  bool Create();
  // The message loop; returns the code carried by the quit message once the window is gone.
  int Run();

  // Window procedure body (public for the procedure's trampoline).
  intptr_t HandleMessage(void* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);

private:
  const SkinDefinition& skin_;
  std::wstring gameFolder_;
  bool preview_;
  void* hwnd_ = nullptr;
};

}  // namespace sv
