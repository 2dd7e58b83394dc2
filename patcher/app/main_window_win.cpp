#include <windows.h>
#include <shellapi.h>
#include <windowsx.h>

#include "common/path.h"
#include "patcher/app/embedded_release_key.h"
#include "patcher/app/game_start.h"
#include "patcher/app/main_window.h"
#include "patcher/app/resource_ids.h"
#include "patcher/engine/log.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* window = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
  return window->HandleMessage(hwnd, message, wParam, lParam);
}

bool RegisterMainWindowClass(HINSTANCE instance) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof(wc);
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = MainWindowProc;
  wc.hInstance = instance;
  wc.hIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kResIconGroup), IMAGE_ICON,
                                           GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  wc.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(kResIconGroup), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXSMICON),
                                             GetSystemMetrics(SM_CYSMICON), 0));
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kMainWindowClass;
  // A class left registered by an earlier window of this process is fine.
  return RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

// Centred in the primary monitor's work area; a window larger than it starts at its corner.
POINT WindowPosition(int width, int height) {
  RECT work{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  int workWidth = work.right - work.left, workHeight = work.bottom - work.top;
  if (width > workWidth || height > workHeight) return {work.left, work.top};
  return {work.left + (workWidth - width) / 2, work.top + (workHeight - height) / 2};
}

// Hides a top-level window of this thread that `owner` owns, directly or through another owned
// window: the web views of a layered skin, an open dialog, a message box.
BOOL CALLBACK HideIfOwned(HWND window, LPARAM owner) {
  for (HWND o = GetWindow(window, GW_OWNER); o; o = GetWindow(o, GW_OWNER)) {
    if (o == reinterpret_cast<HWND>(owner)) {
      ShowWindow(window, SW_HIDE);
      break;
    }
  }
  return TRUE;
}

HFONT MakeFont(int height, int weight) {
  return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, L"Segoe UI");
}

}  // namespace

void OpenLink(const std::wstring& url) {
  Log(L"Baglanti aciliyor: %ls", url.c_str());
  if (!IsOpenableLink(url)) return;
  ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

MainWindow::MainWindow(const SkinDefinition& skin, std::wstring gameFolder, bool preview)
    : skin_(skin), gameFolder_(std::move(gameFolder)), preview_(preview) {}

MainWindow::~MainWindow() {
  if (hwnd_) {
    closing_ = true;
    DestroyWindow(static_cast<HWND>(hwnd_));
  }
  // A window that went without WM_CLOSE still stops its run before the skin goes away.
  if (engine_) engine_->Shutdown();
  engine_ = nullptr;
  if (backDc_) {
    SelectObject(static_cast<HDC>(backDc_), static_cast<HGDIOBJ>(oldBitmap_));
    DeleteDC(static_cast<HDC>(backDc_));
  }
  if (backBitmap_) DeleteObject(static_cast<HGDIOBJ>(backBitmap_));
  if (regularFont_) DeleteObject(static_cast<HGDIOBJ>(regularFont_));
  if (boldFont_) DeleteObject(static_cast<HGDIOBJ>(boldFont_));
}

bool MainWindow::CreateBackBuffer() {
  HDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = skin_.width;
  info.bmiHeader.biHeight = -skin_.height;  // top-down, as the renderer writes rows
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) {
    DeleteDC(dc);
    return false;
  }
  backDc_ = dc;
  backBitmap_ = bitmap;
  oldBitmap_ = SelectObject(dc, bitmap);
  pixels_ = static_cast<uint32_t*>(bits);
  return true;
}

bool MainWindow::Create() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!RegisterMainWindowClass(instance)) {
    Log(L"Pencere sinifi kaydedilemedi (%lu).", GetLastError());
    return false;
  }
  title_ = skin_.settings.title.empty() ? fileStem(modulePath()) : skin_.settings.title;
  if (preview_) title_ += L" - " + skin_.locale.textOr("SV_PREVIEW", L"\u00D6nizleme");
  layered_ = skin_.transparent;

  if (!CreateBackBuffer()) {
    Log(L"Arka tampon olusturulamadi (%lu).", GetLastError());
    return false;
  }
  states_ = InitialControlStates(skin_);

  POINT pos = WindowPosition(skin_.width, skin_.height);
  DWORD exStyle = WS_EX_APPWINDOW | (layered_ ? WS_EX_LAYERED : 0);
  HWND hwnd = CreateWindowExW(exStyle, kMainWindowClass, title_.c_str(),
                              WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, pos.x, pos.y,
                              skin_.width, skin_.height, nullptr, nullptr, instance, this);
  if (!hwnd) {
    Log(L"Ana pencere olusturulamadi (%lu).", GetLastError());
    return false;
  }
  hwnd_ = hwnd;
  if (!instanceTag_.empty()) SetPropW(hwnd, instanceTag_.c_str(), reinterpret_cast<HANDLE>(1));
  regularFont_ = MakeFont(-13, FW_NORMAL);
  boldFont_ = MakeFont(-16, FW_SEMIBOLD);

  // The first frame is ready before the window appears, so it never shows empty.
  Redraw();
  ShowWindow(hwnd, SW_SHOW);
  if (layered_) {
    Present();
  } else {
    UpdateWindow(hwnd);
  }
  SetForegroundWindow(hwnd);

  CreateWebViews();

  SetTimer(hwnd, kStatusTimerId, kStatusTimerMs, nullptr);
  engine_ = UpdateEngine::Create(skin_, gameFolder_, hwnd, preview_);
  if (engine_) {
    engine_->SetRestartedAfterUpdate(restartedAfterUpdate_);
    ReleaseKey key;
    const EmbeddedKey embedded = ReadEmbeddedReleaseKey(key);
    // A damaged key stays an (unusable) key: nothing unsigned gets through because of it.
    if (embedded == EmbeddedKey::kDamaged) Log(L"Gomulu surum anahtari bozuk.");
    if (embedded != EmbeddedKey::kNone) engine_->SetReleaseKey(key);
    engine_->Start(firstRunMode_);
  }
  StartFeed();
  return true;
}

bool MainWindow::PreTranslate(void* message) {
  MSG* msg = static_cast<MSG*>(message);
  // Web views take their keyboard accelerators first, then the dialogs their keys.
  for (const auto& view : webViews_) {
    if (view->TranslateAccelerator(msg)) return true;
  }
  return notice_.PreTranslate(msg) || inUse_.PreTranslate(msg);
}

int MainWindow::Run() {
  MSG msg{};
  for (;;) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0) return int(msg.wParam);
    if (got < 0) {
      Log(L"GetMessage basarisiz (%lu).", GetLastError());
      return 1;
    }
    if (PreTranslate(&msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

bool MainWindow::PollStatus() {
  if (!engine_) return false;
  StatusSnapshot status = engine_->GetStatus();
  if (!redraw_.Changed(status)) return false;
  status_ = std::move(status);
  startEnabled_ = ApplyStatus(skin_, status_, states_);
  if (pressed_ >= 0 && !states_[size_t(pressed_)].enabled) {
    // A button disabled under the finger loses the press and the mouse.
    pressed_ = -1;
    if (GetCapture() == static_cast<HWND>(hwnd_)) ReleaseCapture();
  }
  redraw_.MarkDirty();
  return true;
}

void MainWindow::Tick() {
  PollStatus();
  if (redraw_.TakeDirty()) {
    Redraw();
    Present();
  }
}

void MainWindow::Redraw() {
  if (!pixels_) return;
  for (size_t i = 0; i < states_.size(); ++i) {
    states_[i].hovered = int32_t(i) == hovered_;
  }
  renderer_.render(pixels_, skin_, states_, preview_);
}

void MainWindow::Present() {
  HWND hwnd = static_cast<HWND>(hwnd_);
  if (!hwnd) return;
  if (!layered_) {
    InvalidateRect(hwnd, nullptr, FALSE);
    return;
  }
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  POINT destination{rect.left, rect.top};
  POINT source{0, 0};
  SIZE size{skin_.width, skin_.height};
  BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  UpdateLayeredWindow(hwnd, nullptr, &destination, &size, static_cast<HDC>(backDc_), &source, 0,
                      &blend, ULW_ALPHA);
}

void MainWindow::Paint() {
  HWND hwnd = static_cast<HWND>(hwnd_);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  if (backDc_) {
    BitBlt(dc, 0, 0, skin_.width, skin_.height, static_cast<HDC>(backDc_), 0, 0, SRCCOPY);
  }
  EndPaint(hwnd, &ps);
}

int32_t MainWindow::HitAt(int32_t x, int32_t y) const { return HitButton(skin_, states_, x, y); }

void MainWindow::SetHovered(int32_t index) {
  if (index == hovered_) return;
  hovered_ = index;
  redraw_.MarkDirty();
}

void MainWindow::ClearPressed() {
  bool changed = false;
  for (ControlState& state : states_) {
    changed = changed || state.pressed;
    state.pressed = false;
  }
  pressed_ = -1;
  if (changed) redraw_.MarkDirty();
}

void MainWindow::OnButtonDown(int32_t x, int32_t y) {
  const int32_t hit = HitAt(x, y);
  if (hit < 0 || !states_[size_t(hit)].enabled) return;
  pressed_ = hit;
  SetCapture(static_cast<HWND>(hwnd_));
  states_[size_t(hit)].pressed = true;
  redraw_.TakeDirty();
  Redraw();
  Present();
}

void MainWindow::OnButtonUp(int32_t x, int32_t y) {
  const int32_t was = pressed_;
  pressed_ = -1;
  if (GetCapture() == static_cast<HWND>(hwnd_)) ReleaseCapture();
  ClearPressed();
  const int32_t hit = HitAt(x, y);
  hovered_ = hit;
  redraw_.TakeDirty();
  Redraw();
  Present();
  if (was >= 0 && hit == was) RunButtonAction(was);
}

void MainWindow::RunButtonAction(int32_t index) {
  const SkinControl& button = skin_.controls[size_t(index)];
  const ButtonAction action = ChooseButtonAction(button, newsLinks_);
  HWND hwnd = static_cast<HWND>(hwnd_);
  switch (action.kind) {
    case ButtonActionKind::Close:
      PostMessageW(hwnd, WM_CLOSE, 0, 0);
      break;
    case ButtonActionKind::Minimize:
      ShowWindow(hwnd, SW_MINIMIZE);
      break;
    case ButtonActionKind::StartGame:
      StartGame();
      break;
    case ButtonActionKind::Repair:
      if (engine_ && !closing_) engine_->Start(RunMode::kRepair);
      break;
    case ButtonActionKind::OpenNewsLink:
    case ButtonActionKind::OpenLink:
      OpenLink(action.argument);
      break;
    case ButtonActionKind::RunProgram:
    case ButtonActionKind::RunOptions:
      RunProgram(action.argument);
      break;
    case ButtonActionKind::None:
      break;
  }
}

void MainWindow::StartGame() {
  // The next release is never fetched while the game runs: the game gets the line.
  if (engine_) engine_->StopPreload();
  GameStartRequest request;
  request.startEnabled = startEnabled_;
  request.preview = preview_;
  request.gameFolder = gameFolder_;
  request.runPath = engine_ ? engine_->GetRunPath() : std::wstring();
  request.arguments = skin_.settings.runArgs;
  request.closeOnStart = skin_.settings.closeOnStart;
  auto host = MakeWindowsLaunchHost(hwnd_, title_);
  sv::StartGame(*host, request, skin_.locale);
}

void MainWindow::RunProgram(const std::wstring& relativePath) {
  auto host = MakeWindowsLaunchHost(hwnd_, title_);
  RunExtraProgram(*host, gameFolder_, relativePath, skin_.locale);
}

void MainWindow::OnRunFinished(bool success) {
  // The last status may not have been polled yet: the start state must be the run's final one.
  if (PollStatus()) {
    redraw_.TakeDirty();
    Redraw();
    Present();
  }
  // The player who asked for a repair reads its result before the game covers the window.
  const RunEndStep step = DecideRunEnd(success, skin_.settings.autoStart && !status_.repair,
                                       preview_, elevationAsked_, closing_, status_.stoppedInUse);
  if (step == RunEndStep::StartGame) {
    StartGame();
  } else if (step == RunEndStep::AskRetry) {
    auto host = MakeWindowsLaunchHost(hwnd_, title_);
    const bool retry = host->ShowBox(RetryQuestion(skin_.locale, status_.errorText),
                                     BoxKind::RetryCancel);
    if (retry && engine_ && !closing_) {
      engine_->Start(status_.repair ? RunMode::kRepair : RunMode::kUpdate);
    }
  }
}

void MainWindow::AskElevation() {
  elevationAsked_ = true;
  HWND hwnd = static_cast<HWND>(hwnd_);
  if (MessageBoxW(hwnd, skin_.text("SV_ADMIN_QUESTION").c_str(), title_.c_str(),
                  MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return;
  }
  // The elevated copy waits for this one's lock and takes over.
  if (RestartElevated(hwnd_, gameFolder_, status_.repair)) PostMessageW(hwnd, WM_CLOSE, 0, 0);
}

void MainWindow::BeginClose() {
  if (closing_) return;
  closing_ = true;
  // The player sees the window go at once: it is hidden now, with every window it owns (a layered
  // skin's web views are pop-ups of their own, and a dialog may be open), and the run is stopped
  // (which may take up to 1.5 s) once the message loop has shown that.
  HWND hwnd = static_cast<HWND>(hwnd_);
  EnumThreadWindows(GetCurrentThreadId(), HideIfOwned, reinterpret_cast<LPARAM>(hwnd));
  ShowWindow(hwnd, SW_HIDE);
  PostMessageW(hwnd, kFinishCloseMessage, 0, 0);
}

void MainWindow::FinishClose() {
  feed_.reset();  // stops the feed thread, waiting at most 1 s
  if (engine_) engine_->Shutdown();  // waits up to 1.5 s for the run
  engine_ = nullptr;
  CloseDialogs();
  DestroyWindow(static_cast<HWND>(hwnd_));
}

intptr_t MainWindow::HandleMessage(void* window, unsigned message, uintptr_t wParam, intptr_t lParam) {
  HWND hwnd = static_cast<HWND>(window);
  switch (message) {
    case WM_TIMER:
      if (wParam == kStatusTimerId) Tick();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_NCHITTEST: {
      POINT p{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      ScreenToClient(hwnd, &p);
      if (p.x < 0 || p.y < 0 || p.x >= skin_.width || p.y >= skin_.height) return HTNOWHERE;
      // Every area that is not a button drags the window.
      return HitAt(p.x, p.y) >= 0 ? HTCLIENT : HTCAPTION;
    }
    case WM_MOUSEMOVE:
      if (!mouseTracked_) {
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd, 0};
        mouseTracked_ = TrackMouseEvent(&track) != FALSE;
      }
      SetHovered(HitAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)));
      return 0;
    case WM_NCMOUSEMOVE:
      if (pressed_ < 0) SetHovered(-1);
      break;
    case WM_MOUSELEAVE:
    case WM_NCMOUSELEAVE:
      mouseTracked_ = false;
      if (pressed_ < 0) SetHovered(-1);
      break;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT && hovered_ >= 0 && states_[size_t(hovered_)].enabled) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      OnButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_LBUTTONUP:
      OnButtonUp(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      return 0;
    case WM_CAPTURECHANGED:
      ClearPressed();
      return 0;
    case WM_KEYDOWN:
      if (wParam == VK_RETURN) {
        const SkinControl* start = skin_.findControl("START");
        if (start && start->kind == ControlKind::Button && startEnabled_) StartGame();
        return 0;
      }
      break;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE) {
        for (void* dialog : {notice_.Hwnd(), inUse_.Hwnd()}) {
          if (dialog) SetForegroundWindow(static_cast<HWND>(dialog));
        }
      }
      break;
    case WM_MOVE:
      // Web views of a layered window are separate pop-ups that follow it.
      if (layered_) MoveWebViews();
      break;
    case WM_SV_NOTICE:
      ShowNoticeDialog();
      return 0;
    case WM_SV_DONE:
      OnRunFinished(wParam == 1);
      return 0;
    case WM_SV_NEED_ADMIN:
      AskElevation();
      return 0;
    case WM_SV_SELF_UPDATED:
      closing_ = true;
      DestroyWindow(hwnd);
      return 0;
    case WM_SV_INUSE_SHOW:
      ShowInUseDialog();
      return 0;
    case WM_SV_INUSE_CLOSE:
      CloseInUseDialog();
      return 0;
    case WM_SV_FEED:
      OnFeed(wParam == 1);
      return 0;
    case WM_CLOSE:
      BeginClose();
      return 0;
    case kFinishCloseMessage:
      FinishClose();
      return 0;
    case WM_DESTROY:
      KillTimer(hwnd, kStatusTimerId);
      if (!instanceTag_.empty()) RemovePropW(hwnd, instanceTag_.c_str());
      DestroyWebViews();  // before the window they sit on
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      // The last message: later ones must not reach this object, which may be gone by then.
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
      break;
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace sv
