// The main window's parts that are not the skin itself: the notice and in-use dialogs the
// engine asks for, the embedded web views over the skin's frames, and the feed display.
#include <windows.h>

#include "patcher/app/feed_display.h"
#include "patcher/app/main_window.h"
#include "patcher/engine/log.h"
#include "skin/skin_definition.h"

namespace sv {

std::vector<WebView*> MainWindow::WebViews() const {
  std::vector<WebView*> views;
  for (const auto& view : webViews_) views.push_back(view.get());
  return views;
}

void MainWindow::ShowNoticeDialog() {
  notice_.Show(hwnd_, engine_, skin_.locale, regularFont_, WebViews());
}

void MainWindow::ShowInUseDialog() {
  inUse_.Show(hwnd_, engine_, skin_.locale, regularFont_, boldFont_, WebViews());
}

void MainWindow::CloseInUseDialog() { inUse_.Close(); }

void MainWindow::CloseDialogs() {
  notice_.Destroy();
  inUse_.Close();
}

void MainWindow::OnFeed(bool /*ok*/) {
  if (!feed_) return;
  ApplyFeed(feed_->Snapshot(), skin_, states_, newsLinks_);
  MarkDirty();
}

void MainWindow::StartFeed() {
  if (preview_ || skin_.feedUrl.empty()) return;
  feed_ = std::make_unique<FeedClient>(skin_.feedUrl, skin_.feedRefreshSeconds, hwnd_);
  feed_->Start();
}

// A frame's rectangle: client coordinates, or screen coordinates over a layered window, whose
// web views are separate pop-ups.
static RECT FrameRect(HWND window, bool layered, const SkinControl& control) {
  RECT r{control.x, control.y, control.x + control.boxWidth, control.y + control.boxHeight};
  if (layered) {
    RECT w{};
    GetWindowRect(window, &w);
    OffsetRect(&r, w.left, w.top);
  }
  return r;
}

void MainWindow::CreateWebViews() {
  HWND hwnd = static_cast<HWND>(hwnd_);
  for (size_t i = 0; i < skin_.controls.size(); ++i) {
    const SkinControl& control = skin_.controls[i];
    if (control.kind != ControlKind::Frame || control.boxWidth <= 0 || control.boxHeight <= 0 ||
        control.link.empty()) {
      continue;
    }
    const RECT r = FrameRect(hwnd, layered_, control);
    auto view = std::make_unique<WebView>();
    if (!view->Create(hwnd, layered_, r.left, r.top, r.right - r.left, r.bottom - r.top)) {
      Log(L"Gomulu sayfa olusturulamadi.");
      continue;
    }
    view->Navigate(control.link);
    webViews_.push_back(std::move(view));
    webViewControls_.push_back(i);
  }
}

void MainWindow::MoveWebViews() {
  for (size_t n = 0; n < webViews_.size(); ++n) {
    const RECT r = FrameRect(static_cast<HWND>(hwnd_), true, skin_.controls[webViewControls_[n]]);
    webViews_[n]->Move(r.left, r.top, r.right - r.left, r.bottom - r.top);
  }
}

void MainWindow::DestroyWebViews() {
  notice_.Destroy();  // the notice page too
  webViews_.clear();
  webViewControls_.clear();
}

}  // namespace sv
