// The engine's two questions and the feed display as plain message boxes, until the notice and
// in-use dialogs and the feed reader take their place in MainWindow.
#include <windows.h>

#include "patcher/app/main_window.h"
#include "skin/skin_definition.h"

namespace sv {

void MainWindow::ShowNoticeDialog() {
  if (!engine_ || noticeDialog_) return;
  const RemoteConfig config = engine_->GetRemoteConfig();
  const std::wstring text = skin_.locale.textOr("TORRENT_NOTICE_TITLE", L"Duyuru") + L"\n\n" +
                            config.noticeUrl;
  const int answer = MessageBoxW(static_cast<HWND>(hwnd_), text.c_str(), title_.c_str(),
                                 MB_OKCANCEL | MB_ICONINFORMATION);
  if (engine_) engine_->AnswerNotice(answer == IDOK);
}

void MainWindow::ShowInUseDialog() {
  if (!engine_ || inUseDialog_) return;
  const InUseList list = engine_->GetInUseList();
  std::wstring text = skin_.text("SV_INUSE_HEAD");
  for (const std::wstring& name : list.names) text += L"\n    " + name;
  if (!list.message.empty()) text += L"\n\n" + list.message;
  const int answer = MessageBoxW(static_cast<HWND>(hwnd_), text.c_str(), title_.c_str(),
                                 MB_RETRYCANCEL | MB_ICONWARNING);
  if (engine_) engine_->AnswerInUse(answer == IDRETRY ? 1 : 0);
}

void MainWindow::CloseInUseDialog() {}

void MainWindow::CloseDialogs() {}

void MainWindow::OnFeed(bool /*ok*/) { MarkDirty(); }

}  // namespace sv
