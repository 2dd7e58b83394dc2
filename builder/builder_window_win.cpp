#include "builder/builder_window_win.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>

#include "builder/build_assembly.h"
#include "builder/form_fields.h"
#include "common/file.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/app/window_class_win.h"

namespace sv {

namespace {

constexpr UINT_PTR kBusyTimer = 1;
constexpr UINT kBusyTimerMs = 40;
constexpr COLORREF kEditText = RGB(18, 28, 22);

int ScreenDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

// The outer size for a client area, shrunk to the work area.
SIZE OuterSize(int32_t clientW, int32_t clientH, const RECT& work) {
  RECT r{0, 0, clientW, clientH};
  AdjustWindowRectEx(&r, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_ACCEPTFILES);
  SIZE size{r.right - r.left, r.bottom - r.top};
  size.cx = std::min<LONG>(size.cx, work.right - work.left);
  size.cy = std::min<LONG>(size.cy, work.bottom - work.top);
  return size;
}

RECT WorkArea() {
  RECT work{0, 0, 1024, 768};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  return work;
}

std::wstring WindowText(HWND hwnd) {
  const int n = GetWindowTextLengthW(hwnd);
  std::wstring text(size_t(n) + 1, L'\0');
  const int got = GetWindowTextW(hwnd, text.data(), n + 1);
  text.resize(size_t(got > 0 ? got : 0));
  return text;
}

std::wstring NowText() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LogTimeText(t.wHour, t.wMinute, t.wSecond);
}

bool EndsWithNoCase(const std::wstring& text, std::wstring_view suffix) {
  return text.size() >= suffix.size() && equalsNoCase(std::wstring_view(text).substr(text.size() - suffix.size()), suffix);
}

}  // namespace

BuilderWindow::BuilderWindow(std::wstring templatePath, SnapshotRequest snapshot)
    : templatePath_(std::move(templatePath)), snapshot_(std::move(snapshot)) {}

BuilderWindow::~BuilderWindow() {
  if (buildCancel_) buildCancel_->store(true);
  if (loadThread_) {
    WaitForSingleObject(loadThread_, 10000);
    CloseHandle(loadThread_);
  }
  if (buildThread_) {
    WaitForSingleObject(buildThread_, 5000);
    CloseHandle(buildThread_);
  }
  if (previewProcess_) CloseHandle(previewProcess_);
  if (hwnd_) DestroyWindow(hwnd_);
  if (editFont_) DeleteObject(editFont_);
  if (editBrush_) DeleteObject(editBrush_);
}

bool BuilderWindow::Create() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = ObjectWindowProc<BuilderWindow>;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
  wc.hIconSm = wc.hIcon;
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kBuilderWindowClass;
  if (!RegisterClassExW(&wc) || !RegisterLogView(instance)) return false;

  dpi_ = ScreenDpi();
  const RECT work = WorkArea();
  const SIZE size = OuterSize(MulDiv(kClientWidth, dpi_, 96), MulDiv(kClientHeight, dpi_, 96), work);
  int x = work.left + (work.right - work.left - size.cx) / 2, y = work.top + (work.bottom - work.top - size.cy) / 2;
  if (snapshot_.active) x = y = -32000;
  hwnd_ = CreateWindowExW(WS_EX_ACCEPTFILES, kBuilderWindowClass, kBuilderTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                          x, y, size.cx, size.cy, nullptr, nullptr, instance, this);
  if (!hwnd_) return false;

  editFont_ = CreateFontW(-MulDiv(13, dpi_, 96), 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, CLEARTYPE_QUALITY,
                          0, UiFontFace());
  editBrush_ = CreateSolidBrush(RGB(255, 255, 255));
  CreateFields();
  logView_ = CreateLogView(hwnd_, &log_, dpi_);
  if (!snapshot_.active) RestoreSession();
  WriteFields();
  EnableFields();
  Refresh();

  if (snapshot_.active) {
    ShowWindow(hwnd_, SW_SHOWNOACTIVATE);
    PostMessageW(hwnd_, WM_SV_SNAPSHOTS, 0, 0);
    return true;
  }
  ShowWindow(hwnd_, SW_SHOW);
  UpdateWindow(hwnd_);
  if (!isFile(templatePath_)) {
    SetStatus(L"Patcher şablonu (Sarvik.Template.exe) bulunamadı — build.bat ile derleyin.", true);
  } else if (!skin_.loaded) {
    SetStatus(L"Başlamak için bir skin .zip dosyasını ya da klasörünü pencereye sürükleyip bırakın.", false);
  }
  return true;
}

int BuilderWindow::Run() {
  MSG msg{};
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Tab and Shift+Tab move between the fields as in a dialog.
    if (hwnd_ && IsDialogMessageW(hwnd_, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return int(msg.wParam);
}

void BuilderWindow::CreateFields() {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const FormField& f : kFormFields) {
    DWORD style = WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL;
    if (f.id == kFieldPassword) style |= ES_PASSWORD;
    if (f.id == kFieldSegment || f.id == kFieldMaxKbps) style |= ES_NUMBER | ES_CENTER;
    HWND edit = CreateWindowExW(0, L"EDIT", L"", style, 0, 0, 10, 10, hwnd_, reinterpret_cast<HMENU>(INT_PTR(f.id)),
                                instance, nullptr);
    SendMessageW(edit, WM_SETFONT, WPARAM(editFont_), FALSE);
    SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(6, 6));
    if (f.cue[0]) SendMessageW(edit, EM_SETCUEBANNER, FALSE, LPARAM(f.cue));
    edits_[f.id] = edit;
  }
}

void BuilderWindow::CreateLinkFields() {
  for (auto it = edits_.begin(); it != edits_.end();) {
    if (it->first >= kLinkFieldBase) {
      DestroyWindow(it->second);
      it = edits_.erase(it);
    } else {
      ++it;
    }
  }
  linkKeys_.clear();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (const ButtonLink& link : skin_.LinkFields()) {
    const int id = kLinkFieldBase + int(linkKeys_.size());
    linkKeys_.push_back(link.key);
    HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 10, 10, hwnd_,
                                reinterpret_cast<HMENU>(INT_PTR(id)), instance, nullptr);
    SendMessageW(edit, WM_SETFONT, WPARAM(editFont_), FALSE);
    SendMessageW(edit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELONG(6, 6));
    SendMessageW(edit, EM_SETCUEBANNER, FALSE, LPARAM(L"https://…"));
    edits_[id] = edit;
  }
}

std::string BuilderWindow::KeyOfEdit(int id) const {
  if (id >= kLinkFieldBase) {
    const size_t i = size_t(id - kLinkFieldBase);
    return i < linkKeys_.size() ? linkKeys_[i] : std::string();
  }
  const FormField* f = FindField(id);
  return f ? f->sessionKey : std::string();
}

void BuilderWindow::OnFieldChanged(int id) {
  auto it = edits_.find(id);
  if (it == edits_.end()) return;
  const std::wstring text = WindowText(it->second);
  if (id == kFieldPassword) {
    values_.password = text;
    return;
  }
  const std::string key = KeyOfEdit(id);
  if (key.empty()) return;
  values_.set(key, text);
  // Another control of the same value (the news field and the news area's link) shows it too.
  writingFields_ = true;
  for (const auto& [otherId, edit] : edits_) {
    if (otherId != id && KeyOfEdit(otherId) == key && WindowText(edit) != text) SetWindowTextW(edit, text.c_str());
  }
  writingFields_ = false;
}

void BuilderWindow::WriteFields() {
  writingFields_ = true;
  for (const auto& [id, edit] : edits_) {
    const std::wstring& text = id == kFieldPassword ? values_.password : values_.get(KeyOfEdit(id));
    if (WindowText(edit) != text) SetWindowTextW(edit, text.c_str());
  }
  writingFields_ = false;
}

ViewState BuilderWindow::CurrentViewState() const {
  ViewState s;
  s.section = section_;
  s.busy = busy_;
  s.animation = animation_;
  s.status = status_;
  s.statusError = statusError_;
  s.skinLoaded = skin_.loaded;
  s.skinName = fileName(skin_.sourcePath);
  s.skinWidth = skin_.width;
  s.skinHeight = skin_.height;
  s.warnings = skin_.warnings;
  if (!skin_.definitionError.empty()) s.warnings.insert(s.warnings.begin(), skin_.definitionError);
  for (const SkinPackageEntry& e : skin_.entries.package.entries) s.entryNames.push_back(toWide(e.name));
  s.packageBytes = skin_.entries.totalDataSize();
  for (const ButtonLink& link : skin_.LinkFields())
    s.links.push_back({link.controlIndex, toWide(link.id), link.fromLanguageFile, link.key == kNewsPageKey});
  if (preview_) {
    s.transparent = preview_->skin.transparent;
    for (const SkinControl& c : preview_->skin.controls) {
      if (c.kind == ControlKind::Button) ++s.buttons;
      if (c.kind == ControlKind::Text) ++s.texts;
    }
  }
  s.busyText = busyText_;
  s.connections = values_.connections();
  s.closeOnStart = values_.flag(kKeyCloseOnStart);
  s.autoStart = values_.flag(kKeyAutoStart);
  s.allowError = values_.flag(kKeyAllowError);
  s.browserEmulation = values_.flag(kKeyBrowserEmu);
  s.sign = values_.flag(kKeySign);
  s.iconPath = values_.get(kKeyIcon);
  s.releaseKeyPath = values_.field(kFieldReleaseKey);
  s.outputPath = values_.field(kFieldOutPath);
  s.configUrl = values_.field(kFieldConfigUrl);
  s.pfxPath = values_.field(kFieldPfx);
  s.templateFound = isFile(templatePath_);
  s.hasResult = hasResult_;
  s.resultOk = result_.ok;
  s.resultSigned = result_.isSigned;
  s.resultMessage = result_.message;
  s.resultCrc = result_.crc32;
  s.resultSize = result_.size;
  s.elapsedMs = elapsedMs_;
  s.preview = previewState_;
  if (preview_ && previewState_ == ViewState::Preview::Ready) {
    s.previewWidth = preview_->width;
    s.previewHeight = preview_->height;
    s.previewTransparent = preview_->skin.transparent;
    s.previewLinks = preview_->linkCount;
  }
  return s;
}

void BuilderWindow::ComputeItems() {
  RECT client{};
  GetClientRect(hwnd_, &client);
  items_ = LayoutWindow(CurrentViewState(), client.right, client.bottom, dpi_);
}

void BuilderWindow::Refresh() {
  if (!hwnd_) return;
  ComputeItems();
  std::map<int, const ViewItem*> placed;
  const ViewItem* logItem = nullptr;
  for (const ViewItem& item : items_) {
    if (item.kind == ItemKind::Edit) placed[item.field] = &item;
    if (item.kind == ItemKind::LogView) logItem = &item;
  }
  // Edits sit inside their drawn frame, one pixel in, with the text vertically centred.
  const int pad = MulDiv(1, dpi_, 96) + 1;
  const int textH = MulDiv(18, dpi_, 96);
  for (const auto& [id, edit] : edits_) {
    auto it = placed.find(id);
    if (it == placed.end()) {
      if (GetFocus() == edit) SetFocus(hwnd_);
      ShowWindow(edit, SW_HIDE);
      continue;
    }
    const ViewRect& r = it->second->rect;
    const int top = r.y + (r.h - textH) / 2;
    SetWindowPos(edit, nullptr, r.x + pad + 2, top, r.w - 2 * pad - 4, textH, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(edit, SW_SHOWNA);
  }
  if (logItem) {
    const ViewRect& r = logItem->rect;
    SetWindowPos(logView_, nullptr, r.x + 1, r.y + 1, r.w - 2, r.h - 2, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(logView_, SW_SHOWNA);
  } else {
    ShowWindow(logView_, SW_HIDE);
  }
  InvalidateRect(hwnd_, nullptr, FALSE);
}

void BuilderWindow::SelectSection(int section) {
  section_ = std::clamp(section, 0, kSectionCount - 1);
  Refresh();
}

void BuilderWindow::SetStatus(const std::wstring& text, bool error) {
  status_ = text;
  statusError_ = error;
  if (hwnd_) InvalidateRect(hwnd_, nullptr, FALSE);
}

void BuilderWindow::AddLog(const std::wstring& text, int level) {
  log_.Append(text, level, NowText());
  if (logView_) LogViewAppended(logView_);
}

void BuilderWindow::SetBusy(bool busy) {
  busy_ = busy;
  if (busy) {
    animation_ = 0;
    SetTimer(hwnd_, kBusyTimer, kBusyTimerMs, nullptr);
  } else {
    KillTimer(hwnd_, kBusyTimer);
  }
  EnableFields();
  Refresh();
}

void BuilderWindow::EnableFields() {
  for (const auto& [id, edit] : edits_) {
    const bool certificate = id == kFieldPfx || id == kFieldPassword || id == kFieldTimestamp;
    EnableWindow(edit, !busy_ && (!certificate || values_.flag(kKeySign)));
  }
}

void BuilderWindow::CopyToClipboard(const std::wstring& text, const wchar_t* status) {
  if (PutClipboardText(hwnd_, text)) {
    SetStatus(status, false);
  } else {
    SetStatus(L"Panoya kopyalanamadı.", true);
  }
}

void BuilderWindow::OnCommand(int command) {
  if (command == kCmdCancel) {
    CancelWork();
    return;
  }
  if (command >= kCmdSection && command < kCmdSection + kSectionCount) {
    SelectSection(command - kCmdSection);
    return;
  }
  if (command > kCmdConnection && command <= kCmdConnection + 8) {
    values_.set(kKeyConnections, formatInt64(command - kCmdConnection));
    SaveSession();
    Refresh();
    return;
  }
  switch (command) {
    case kCmdPickZip:
      if (std::wstring path = AskSkinZip(hwnd_); !path.empty()) StartSkinLoad(path, false);
      return;
    case kCmdPickFolder:
      if (std::wstring path = AskSkinFolder(hwnd_); !path.empty()) StartSkinLoad(path, false);
      return;
    case kCmdPickIcon:
      if (std::wstring path = AskIcon(hwnd_); !path.empty()) ChooseIcon(path, false);
      break;
    case kCmdRemoveIcon:
      values_.set(kKeyIcon, L"");
      SetStatus(L"Simge kaldırıldı — şablonun simgesi kullanılacak.", false);
      break;
    case kCmdPickOutput: ChooseOutputPath(); break;
    case kCmdPickPfx:
      if (std::wstring path = AskCertificate(hwnd_); !path.empty()) values_.setField(kFieldPfx, path);
      break;
    case kCmdPickReleaseKey:
      if (std::wstring path = AskReleaseKey(hwnd_); !path.empty()) values_.setField(kFieldReleaseKey, path);
      break;
    case kCmdBuild: StartBuild(); return;
    case kCmdPreview: StartExternalPreview(); return;
    case kCmdShowFolder: {
      const std::wstring args = L"/select,\"" + trim(values_.field(kFieldOutPath)) + L"\"";
      ShellExecuteW(hwnd_, L"open", L"explorer.exe", args.c_str(), nullptr, SW_SHOWNORMAL);
      break;
    }
    case kCmdCopyCrc: CopyToClipboard(Hex8Text(result_.crc32), L"CRC32 panoya kopyalandı."); break;
    case kCmdCopyCrcLine:
      CopyToClipboard(L"sv_patcher_crc32=" + Hex8Text(result_.crc32), L"Kendini güncelleme satırı panoya kopyalandı.");
      break;
    case kCmdCopyLog: CopyToClipboard(log_.CopyText(), L"Günlük panoya kopyalandı."); break;
    case kCmdSegMinus:
    case kCmdSegPlus: {
      const int32_t seg = std::clamp<int32_t>(values_.segmentMb() + (command == kCmdSegPlus ? 1 : -1), 1, 64);
      values_.setField(kFieldSegment, formatInt64(seg));
      WriteFields();
      RebuildLivePreview();
      break;
    }
    case kCmdSwitchCloseOnStart: values_.setFlag(kKeyCloseOnStart, !values_.flag(kKeyCloseOnStart)); break;
    case kCmdSwitchAutoStart: values_.setFlag(kKeyAutoStart, !values_.flag(kKeyAutoStart)); break;
    case kCmdSwitchAllowError: values_.setFlag(kKeyAllowError, !values_.flag(kKeyAllowError)); break;
    case kCmdSwitchBrowserEmu: values_.setFlag(kKeyBrowserEmu, !values_.flag(kKeyBrowserEmu)); break;
    case kCmdSwitchSign:
      values_.setFlag(kKeySign, !values_.flag(kKeySign));
      EnableFields();
      break;
    default: return;
  }
  WriteFields();
  SaveSession();
  Refresh();
}

void BuilderWindow::OnEditCommand(int id, int code) {
  if (code == EN_KILLFOCUS) {
    if (id == kFieldTitle || id == kFieldConfigUrl || id == kFieldNewsUrl || id == kFieldSegment || id >= kLinkFieldBase)
      RebuildLivePreview();
    SaveSession();
    Refresh();
  } else if (code == EN_CHANGE && !writingFields_) {
    OnFieldChanged(id);
    if (id == kFieldOutPath) InvalidateRect(hwnd_, nullptr, FALSE);
  }
}

bool BuilderWindow::LoadSkinNow(const std::wstring& path, bool restoring) {
  SkinImport loaded;
  std::wstring error;
  const bool ok = loaded.LoadSkin(path, &error);
  return TakeLoadedSkin(loaded, path, error, ok, restoring);
}

bool BuilderWindow::TakeLoadedSkin(SkinImport& loaded, const std::wstring& path, const std::wstring& error, bool ok,
                                   bool restoring) {
  if (!ok) {
    AddLog(L"Skin yüklenemedi: " + error, kLogError);
    SetStatus(L"Skin yüklenemedi: " + error, true);
    // A skin restored from the session that does not load keeps every saved value (fault of an
    // unmounted drive); a skin the operator chose leaves the loaded one as it was.
    SelectSection(kSectionSource);
    return false;
  }
  skin_ = std::move(loaded);
  AddLog(L"Skin yüklendi: " + path, kLogSuccess);
  PrefillFromSkin(values_, skin_, restoring);
  for (const std::wstring& warning : skin_.warnings) AddLog(L"Uyarı: " + warning, kLogWarning);
  CreateLinkFields();
  WriteFields();
  EnableFields();
  // A skin read with warnings (a broken skin.xml among them) must not look like a clean load.
  std::wstring status = L"Skin yüklendi — " + fileName(path) + L"  (" + formatInt64(skin_.width) +
                        L" × " + formatInt64(skin_.height) + L" px)";
  const size_t warnings = skin_.warnings.size() + (skin_.definitionError.empty() ? 0 : 1);
  if (warnings) status += L"  · " + formatInt64(int64_t(warnings)) + L" uyarı";
  SetStatus(status, warnings != 0);
  if (!restoring) {
    RebuildLivePreview();
    SaveSession();
    Refresh();
  }
  return true;
}

void BuilderWindow::OnDrop(HDROP drop) {
  std::vector<std::wstring> paths;
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    wchar_t buffer[MAX_PATH] = {};
    if (DragQueryFileW(drop, i, buffer, MAX_PATH)) paths.emplace_back(buffer);
  }
  DragFinish(drop);
  if (busy_ || paths.empty()) return;
  for (const std::wstring& path : paths) {
    if (isDirectory(path) || EndsWithNoCase(path, L".zip")) {
      StartSkinLoad(path, false);
      return;
    }
  }
  const bool wasLoaded = skin_.loaded;
  const std::map<std::string, std::wstring> before = SkinValues(skin_);
  std::wstring note;
  const int added = skin_.AddDroppedItems(paths, &note);
  AddLog(L"Pakete eklenen/değiştirilen dosya: " + formatInt64(added), kLogPlain);
  if (!note.empty()) AddLog(L"Not: " + note, kLogWarning);
  if (!skin_.loaded) {
    SetStatus(L"Henüz skin.xml yok; önce geçerli bir skin .zip ya da klasörü bırakın.", true);
  } else {
    if (!wasLoaded) {
      PrefillFromSkin(values_, skin_, false);
    } else {
      CarrySkinValuesOver(values_, before, SkinValues(skin_));
    }
    // A dropped skin.xml may have other links: each field must stand for its own button again.
    CreateLinkFields();
    WriteFields();
    EnableFields();
    RebuildLivePreview();
    SetStatus(formatInt64(added) + L" dosya pakete eklendi.", false);
    SaveSession();
  }
  Refresh();
}

void BuilderWindow::ChooseIcon(const std::wstring& path, bool quiet) {
  std::string ico;
  std::wstring error;
  if (!ReadIconForBuild(path, ico, &error)) {
    if (!quiet) SetStatus(error, true);
    return;
  }
  values_.set(kKeyIcon, path);
  if (!quiet) SetStatus(L"Simge ayarlandı: " + fileName(path), false);
}

bool BuilderWindow::ChooseOutputPath() {
  std::wstring name = trim(values_.field(kFieldOutName));
  if (name.empty()) name = kDefaultOutputName;
  const std::wstring path = AskOutput(hwnd_, name);
  if (path.empty()) return false;
  values_.setField(kFieldOutPath, path);
  WriteFields();
  SaveSession();
  return true;
}

std::wstring BuilderWindow::SessionPath() const {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder))) return {};
  return joinPath(joinPath(folder, L"Sarvik"), kSessionFileName);
}

void BuilderWindow::SaveSession() {
  if (snapshot_.active) return;
  const std::wstring path = SessionPath();
  if (path.empty()) return;
  createDirectories(parentPath(path));
  const std::string text = SessionText(values_);
  writeFileAtomic(path, text.data(), text.size());
}

void BuilderWindow::RestoreSession() {
  std::string text;
  const std::wstring path = SessionPath();
  if (path.empty() || !readWholeFile(path, kSessionFileMaxSize, text)) return;
  BuilderSession session;
  session.values = ParseSessionText(text);
  RestoreHooks hooks;
  hooks.iconUsable = [](const std::wstring& icon) {
    std::string ico;
    return ReadIconForBuild(icon, ico, nullptr);
  };
  hooks.skinExists = [](const std::wstring& skin) { return isFile(skin) || isDirectory(skin); };
  // The skin loads on its thread; until it is there every saved value stays as saved, and when
  // it is, the session is applied again over what the skin pre-filled (OnSkinLoaded).
  hooks.loadSkin = [this](const std::wstring& skin) -> const SkinImport* {
    StartSkinLoad(skin, true);
    return nullptr;
  };
  pendingSession_ = session;
  ApplySession(values_, session, hooks);
  WriteFields();
  EnableFields();
}

void BuilderWindow::ResizeClient(int32_t width, int32_t height) {
  const SIZE size = OuterSize(width, height, WorkArea());
  SetWindowPos(hwnd_, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT BuilderWindow::HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      hwnd_ = hwnd;
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      PaintAll(dc, false);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_PRINT:
    case WM_PRINTCLIENT:
      PaintAll(reinterpret_cast<HDC>(wParam), true);
      return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SIZE:
      if (wParam != SIZE_MINIMIZED) Refresh();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
      const SIZE min = OuterSize(MulDiv(kMinClientWidth, dpi_, 96), MulDiv(kMinClientHeight, dpi_, 96), WorkArea());
      info->ptMinTrackSize.x = min.cx;
      info->ptMinTrackSize.y = min.cy;
      return 0;
    }
    case WM_MOUSEMOVE: {
      const ViewItem* hit = HitItem(items_, short(LOWORD(lParam)), short(HIWORD(lParam)));
      const int command = hit ? hit->command : kCmdNone;
      if (command != hoverCommand_) {
        hoverCommand_ = command;
        InvalidateRect(hwnd, nullptr, FALSE);
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
        TrackMouseEvent(&track);
      }
      SetCursor(LoadCursorW(nullptr, command != kCmdNone ? IDC_HAND : IDC_ARROW));
      return 0;
    }
    case WM_MOUSELEAVE:
      hoverCommand_ = kCmdNone;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_SETCURSOR:
      if (LOWORD(lParam) == HTCLIENT && HWND(wParam) == hwnd) return TRUE;
      break;
    case WM_LBUTTONDOWN: {
      SetFocus(hwnd);  // a field left by a click on the window saves itself
      const ViewItem* hit = HitItem(items_, short(LOWORD(lParam)), short(HIWORD(lParam)));
      pressedCommand_ = hit ? hit->command : kCmdNone;
      if (pressedCommand_ != kCmdNone) SetCapture(hwnd);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_LBUTTONUP: {
      const int pressed = pressedCommand_;
      pressedCommand_ = kCmdNone;
      if (GetCapture() == hwnd) ReleaseCapture();
      const ViewItem* hit = HitItem(items_, short(LOWORD(lParam)), short(HIWORD(lParam)));
      InvalidateRect(hwnd, nullptr, FALSE);
      // A command runs only when the press and the release are on the same button.
      if (hit && pressed != kCmdNone && hit->command == pressed) OnCommand(pressed);
      return 0;
    }
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      if (lParam && id >= 1100) OnEditCommand(id, HIWORD(wParam));
      return 0;
    }
    case WM_CTLCOLOREDIT: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, kEditText);
      SetBkColor(dc, RGB(255, 255, 255));
      return LRESULT(editBrush_);
    }
    case WM_DROPFILES: OnDrop(reinterpret_cast<HDROP>(wParam)); return 0;
    case WM_TIMER:
      if (wParam == kBusyTimer) {
        ++animation_;
        InvalidateRect(hwnd, nullptr, FALSE);
      }
      return 0;
    case WM_BUILD_LOG: {
      std::unique_ptr<std::wstring> line(reinterpret_cast<std::wstring*>(lParam));
      if (line) AddLog(*line, kLogPlain);
      return 0;
    }
    case WM_BUILD_DONE: OnBuildFinished(reinterpret_cast<BuildResult*>(lParam)); return 0;
    case WM_SKIN_LOADED: OnSkinLoaded(reinterpret_cast<SkinLoadJob*>(lParam)); return 0;
    case WM_SV_SNAPSHOTS: RunSnapshots(); return 0;
    case WM_SV_COMMAND_POINT:
      for (const ViewItem& item : items_) {
        if (item.command == int(wParam) && item.enabled)
          return MAKELONG(item.rect.x + item.rect.w / 2, item.rect.y + item.rect.h / 2);
      }
      return -1;
    case WM_CLOSE:
      // A skin still loading is let go (its values are the session's until it is there, so the
      // save below keeps them); a running build must end first.
      if (loadJob_) loadJob_->cancel.store(true);
      if (busy_ && !loadJob_) {
        SetStatus(L"Oluşturma sürüyor — iptal edin ya da bitmesini bekleyin.", true);
        return 0;
      }
      SaveSession();
      DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      hwnd_ = nullptr;
      PostQuitMessage(0);
      return 0;
    default: break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace sv
