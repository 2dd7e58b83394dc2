#pragma once
// SarvikBuilder's main window (class SV_BuilderMain): the section list, the selected section's
// cards, the live preview and the status line, drawn by the window itself; only the text fields
// are edit controls. What it shows and keeps lives in portable code (form_view, form_values,
// preview_model, build_log); this class moves values between those and Windows.
#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "builder/build_log.h"
#include "builder/build_request.h"
#include "builder/form_values.h"
#include "builder/form_view.h"
#include "builder/preview_model.h"
#include "builder/skin_import.h"
#include "skin/renderer.h"

namespace sv {

constexpr UINT WM_BUILD_LOG = WM_APP + 1;
constexpr UINT WM_BUILD_DONE = WM_APP + 2;
constexpr UINT WM_SKIN_LOADED = WM_APP + 3;
constexpr UINT WM_SV_SNAPSHOTS = WM_APP + 9;
// The drawn buttons are no controls, so UI automation cannot find them by themselves: this
// message answers where the button of command wParam is (its centre in client coordinates as
// MAKELONG(x, y)), or -1 when the current section does not show it enabled.
constexpr UINT WM_SV_COMMAND_POINT = WM_APP + 30;
constexpr const wchar_t* kBuilderWindowClass = L"SV_BuilderMain";
constexpr const wchar_t* kBuilderTitle = L"Sarvik Oluşturucu";

// One skin load on its own thread: the window keeps the job until its WM_SKIN_LOADED arrives.
struct SkinLoadJob {
  std::wstring path;
  bool restoring = false;
  std::atomic<bool> cancel{false};
  SkinImport skin;
  bool ok = false;
  std::wstring error;
  HWND window = nullptr;
};

struct SnapshotRequest {
  bool active = false;
  std::wstring folder;
  std::wstring skinPath;
};

class BuilderWindow {
public:
  BuilderWindow(std::wstring templatePath, SnapshotRequest snapshot);
  ~BuilderWindow();
  BuilderWindow(const BuilderWindow&) = delete;
  BuilderWindow& operator=(const BuilderWindow&) = delete;

  bool Create();
  int Run();
  LRESULT HandleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  // Drawing (builder_paint_win.cpp).
  void PaintAll(HDC dc, bool printing);

private:
  friend struct BuilderPainter;

  // Fields and layout. Every edit control is a view of one key of values_: a change typed into it
  // goes to that key at once (EN_CHANGE), and WriteFields shows the keys in their controls.
  void CreateFields();
  void CreateLinkFields();
  std::string KeyOfEdit(int id) const;  // "" for the password, which values_ keeps apart
  void OnFieldChanged(int id);
  void WriteFields();
  ViewState CurrentViewState() const;
  void ComputeItems();
  void Refresh();
  void SelectSection(int section);
  void SetStatus(const std::wstring& text, bool error);
  void AddLog(const std::wstring& text, int level);
  void SetBusy(bool busy);
  void EnableFields();

  // Commands.
  void OnCommand(int command);
  void OnEditCommand(int id, int code);
  void OnDrop(HDROP drop);
  // Skins load on a thread of their own while the window shows the load and offers to cancel it;
  // the snapshots load on the window thread.
  void StartSkinLoad(const std::wstring& path, bool restoring);
  void OnSkinLoaded(SkinLoadJob* job);
  bool LoadSkinNow(const std::wstring& path, bool restoring);
  bool TakeLoadedSkin(SkinImport& loaded, const std::wstring& path, const std::wstring& error, bool ok,
                      bool restoring);
  void CancelWork();
  void ChooseIcon(const std::wstring& path, bool quiet);
  bool ChooseOutputPath();
  void CopyToClipboard(const std::wstring& text, const wchar_t* status);

  // Session.
  std::wstring SessionPath() const;
  void SaveSession();
  void RestoreSession();

  // Build (builder_build_win.cpp).
  void StartBuild();
  void OnBuildFinished(BuildResult* result);
  bool RunBuildNow(const std::wstring& outputPath, BuildResult& result);
  void StartExternalPreview();

  // Preview and snapshots.
  void RebuildLivePreview();
  void RunSnapshots();
  bool CaptureWindowPng(const std::wstring& path);
  void ResizeClient(int32_t width, int32_t height);

  std::wstring templatePath_;
  SnapshotRequest snapshot_;
  HWND hwnd_ = nullptr;
  HWND logView_ = nullptr;
  int dpi_ = 96;
  std::map<int, HWND> edits_;  // field id -> edit control, link fields included
  std::vector<std::string> linkKeys_;  // the key of link field kLinkFieldBase + i
  HFONT editFont_ = nullptr;
  HBRUSH editBrush_ = nullptr;

  FormValues values_;
  SkinImport skin_;
  BuildLog log_;
  int section_ = 0;
  bool busy_ = false;        // a build or a skin load runs: every field and command waits
  std::wstring busyText_;    // what runs, for the status line
  bool writingFields_ = false;
  int animation_ = 0;
  std::wstring status_;
  bool statusError_ = false;
  std::vector<ViewItem> items_;
  int hoverCommand_ = kCmdNone;
  int pressedCommand_ = kCmdNone;

  // The last result, for the result panel.
  bool hasResult_ = false;
  BuildResult result_;
  std::wstring resultPath_;
  uint64_t elapsedMs_ = 0;
  DWORD startTick_ = 0;
  HANDLE buildThread_ = nullptr;
  std::shared_ptr<std::atomic<bool>> buildCancel_;
  HANDLE loadThread_ = nullptr;
  std::shared_ptr<SkinLoadJob> loadJob_;
  BuilderSession pendingSession_;  // the session restored while its skin loads
  HANDLE previewProcess_ = nullptr;

  std::unique_ptr<PreviewModel> preview_;
  std::vector<uint32_t> previewPixels_;
  ViewState::Preview previewState_ = ViewState::Preview::None;
  Renderer renderer_;
};

// Font faces of the window: "Segoe UI" and "Consolas" where installed, else faces with every
// Turkish letter.
const wchar_t* UiFontFace();
const wchar_t* MonoFontFace();

// The log view child window (class SV_LogView) showing a BuildLog, scrolled to its end after
// each append.
bool RegisterLogView(HINSTANCE instance);
HWND CreateLogView(HWND parent, const BuildLog* log, int dpi);
void LogViewAppended(HWND view);
void PaintLogView(HWND view, HDC dc);

// The files' and folders' dialogs of the builder; each returns "" when cancelled.
std::wstring AskSkinZip(HWND owner);
std::wstring AskSkinFolder(HWND owner);
std::wstring AskIcon(HWND owner);
std::wstring AskOutput(HWND owner, const std::wstring& initialName);
std::wstring AskCertificate(HWND owner);
std::wstring AskReleaseKey(HWND owner);
bool PutClipboardText(HWND owner, const std::wstring& text);

// Saves a bitmap as PNG with GDI+'s "image/png" encoder.
bool SaveBitmapPng(HBITMAP bitmap, const std::wstring& path);

}  // namespace sv
