#pragma once
// The patcher's only top-level window: borderless, the skin's size, drawn by the skin renderer
// into a back buffer and shown with per-pixel alpha when the skin is transparent. It owns the
// update engine, polls its status every 30 ms and redraws only when something changed.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "patcher/app/feed_client.h"
#include "patcher/app/inuse_dialog.h"
#include "patcher/app/notice_dialog.h"
#include "patcher/app/web_view.h"
#include "patcher/app/window_status.h"
#include "patcher/engine/update_engine.h"
#include "skin/renderer.h"

namespace sv {

class SkinDefinition;

// With the folder's tag (InstanceWindowTag), how a second start of the same folder finds this
// folder's window among the patchers and previews that are open.
constexpr wchar_t kMainWindowClass[] = L"SarvikWnd";
constexpr uintptr_t kStatusTimerId = 1;
// Posted to itself by WM_CLOSE: the second half of closing.
constexpr uint32_t kFinishCloseMessage = kWmApp + 20;
constexpr uint32_t kStatusTimerMs = 30;

// Opens a web address in the player's browser; anything but http:// and https:// is only logged.
void OpenLink(const std::wstring& url);

class MainWindow {
public:
  // `skin` must outlive the window.
  MainWindow(const SkinDefinition& skin, std::wstring gameFolder, bool preview);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // A patcher started by a self-update: its run takes no other patcher build. Before Create.
  void SetRestartedAfterUpdate(bool restarted) { restartedAfterUpdate_ = restarted; }
  // "--sv-repair": the window's first run is a repair. Before Create.
  void SetFirstRunMode(RunMode mode) { firstRunMode_ = mode; }

  // The window property that marks this folder's patcher (InstanceWindowTag); set by Create.
  void SetInstanceTag(std::wstring tag) { instanceTag_ = std::move(tag); }
  // Registers the class, creates the window centred in the work area, shows it in front, starts
  // the status timer and the update run.
  bool Create();
  // The message loop; returns the code carried by the quit message once the window is gone.
  int Run();

  // Window procedure body (public for the procedure's trampoline).
  intptr_t HandleMessage(void* hwnd, unsigned message, uintptr_t wParam, intptr_t lParam);

  // For the feed display, the dialogs and the web views.
  void* hwnd() const { return hwnd_; }
  const std::wstring& title() const { return title_; }
  const SkinDefinition& skin() const { return skin_; }
  UpdateEngine* engine() const { return engine_; }
  std::vector<ControlState>& controlStates() { return states_; }
  // News slot name ("NEWS_1", "NEWS_BANNER") -> the link its buttons open.
  std::map<std::string, std::wstring>& newsLinks() { return newsLinks_; }
  void* regularFont() const { return regularFont_; }
  void* boldFont() const { return boldFont_; }
  // Something visible changed: the next tick draws.
  void MarkDirty() { redraw_.MarkDirty(); }

  // START, Enter and the automatic start.
  void StartGame();

private:
  bool CreateBackBuffer();
  void Tick();
  bool PollStatus();
  void Redraw();
  void Present();
  void Paint();
  int32_t HitAt(int32_t x, int32_t y) const;
  void SetHovered(int32_t index);
  void ClearPressed();
  void OnButtonDown(int32_t x, int32_t y);
  void OnButtonUp(int32_t x, int32_t y);
  void RunButtonAction(int32_t index);
  void RunProgram(const std::wstring& relativePath);
  void OnRunFinished(bool success);
  void AskElevation();
  void BeginClose();
  void FinishClose();
  bool PreTranslate(void* msg);

  // The questions the engine asks, and the feed display; each runs on the window thread.
  void ShowNoticeDialog();
  void ShowInUseDialog();
  void CloseInUseDialog();
  void CloseDialogs();
  void OnFeed(bool ok);
  // The skin's web areas (Frame controls with a link) and the feed reader.
  void CreateWebViews();
  void MoveWebViews();
  void DestroyWebViews();
  std::vector<WebView*> WebViews() const;
  void StartFeed();

  const SkinDefinition& skin_;
  std::wstring gameFolder_;
  bool preview_;
  void* hwnd_ = nullptr;
  bool layered_ = false;
  std::wstring title_;
  std::wstring instanceTag_;

  void* backDc_ = nullptr;
  void* backBitmap_ = nullptr;
  void* oldBitmap_ = nullptr;
  uint32_t* pixels_ = nullptr;
  Renderer renderer_;

  std::vector<ControlState> states_;
  UpdateEngine* engine_ = nullptr;
  StatusSnapshot status_;
  RedrawTracker redraw_;
  int32_t hovered_ = -1, pressed_ = -1;
  bool mouseTracked_ = false;
  bool startEnabled_ = false;
  bool elevationAsked_ = false;
  bool closing_ = false;
  bool restartedAfterUpdate_ = false;
  RunMode firstRunMode_ = RunMode::kUpdate;

  NoticeDialog notice_;
  InUseDialog inUse_;
  std::vector<std::unique_ptr<WebView>> webViews_;
  std::vector<size_t> webViewControls_;  // the Frame control each web view covers
  std::unique_ptr<FeedClient> feed_;
  std::map<std::string, std::wstring> newsLinks_;
  void* regularFont_ = nullptr;
  void* boldFont_ = nullptr;
};

}  // namespace sv
