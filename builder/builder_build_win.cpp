// The window's builds: the build thread and its messages, the synchronous build of the external
// preview and the snapshots, and the live preview. Every build assembles its request from the
// session form of the fields (AssembleBuildRequest), exactly as the headless build does.
#include "builder/builder_window_win.h"

#include <process.h>
#include <shellapi.h>

#include <atomic>
#include <functional>
#include <memory>

#include "builder/build_assembly.h"
#include "builder/form_fields.h"
#include "common/file.h"
#include "common/path.h"
#include "common/text.h"

namespace sv {

namespace {

// The window the build thread posts to; set by StartBuild.
std::atomic<HWND> g_buildWindow{nullptr};

void PostLogLine(void*, const std::wstring& line) {
  HWND window = g_buildWindow.load();
  if (!window) return;
  auto* copy = new std::wstring(line);
  if (!PostMessageW(window, WM_BUILD_LOG, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
}

struct BuildJob {
  BuilderSession session;
  SkinImport skin;  // the thread's own copy: the window may load another skin meanwhile
  std::wstring templatePath, outputPath, password;
  HWND window = nullptr;
  std::shared_ptr<std::atomic<bool>> cancel;  // the window's "İptal"
};

BuildResult RunJob(const BuildJob& job, BuildLogFn log, void* context) {
  BuildRequest request;
  BuildResult result;
  if (!AssembleBuildRequest(job.session, job.skin, job.templatePath, job.outputPath, job.password, request,
                            &result.message))
    return result;
  request.cancel = job.cancel.get();
  return BuildPatcher(request, log, context);
}

unsigned __stdcall SkinLoadThread(void* parameter) {
  std::unique_ptr<std::shared_ptr<SkinLoadJob>> held(static_cast<std::shared_ptr<SkinLoadJob>*>(parameter));
  SkinLoadJob& job = **held;
  job.ok = job.skin.LoadSkin(job.path, &job.error, &job.cancel);
  PostMessageW(job.window, WM_SKIN_LOADED, 0, reinterpret_cast<LPARAM>(&job));
  return 0;
}

unsigned __stdcall BuildThread(void* parameter) {
  std::unique_ptr<BuildJob> job(static_cast<BuildJob*>(parameter));
  auto* result = new BuildResult(RunJob(*job, PostLogLine, nullptr));
  if (!PostMessageW(job->window, WM_BUILD_DONE, 0, reinterpret_cast<LPARAM>(result))) delete result;
  return 0;
}

struct DirectLog {
  std::function<void(const std::wstring&)> add;
};

void LogDirect(void* context, const std::wstring& line) { static_cast<DirectLog*>(context)->add(line); }

}  // namespace

void BuilderWindow::StartBuild() {
  if (busy_) return;
  auto refuse = [this](const std::wstring& message) {
    AddLog(message, kLogError);
    SetStatus(message, true);
    hasResult_ = true;
    result_ = BuildResult{};
    result_.message = message;
    SelectSection(kSectionBuild);
  };
  if (!skin_.loaded) {
    AddLog(L"Önce bir skin yükleyin.", kLogError);
    SetStatus(L"Önce bir skin yükleyin.", true);
    SelectSection(kSectionSource);
    return;
  }
  if (!isFile(templatePath_)) {
    refuse(L"Patcher şablonu bulunamadı: " + templatePath_ + L" — build.bat ile derleyin.");
    return;
  }
  if (trim(values_.field(kFieldOutPath)).empty() && !ChooseOutputPath()) return;
  const std::wstring outputPath = trim(values_.field(kFieldOutPath));
  if (std::wstring refusal =
          CheckBuildStart(templatePath_, outputPath, values_.flag(kKeySign), values_.field(kFieldPfx));
      !refusal.empty()) {
    refuse(refusal);
    return;
  }
  SaveSession();
  auto job = std::make_unique<BuildJob>();
  job->session = ToSession(values_);
  job->skin = skin_;
  job->templatePath = templatePath_;
  job->outputPath = outputPath;
  job->password = values_.password;
  job->window = hwnd_;
  buildCancel_ = std::make_shared<std::atomic<bool>>(false);
  job->cancel = buildCancel_;
  resultPath_ = outputPath;
  section_ = kSectionBuild;
  AddLog(L"Oluşturma başladı → " + outputPath, kLogSuccess);
  SetStatus(L"Oluşturuluyor…", false);
  startTick_ = GetTickCount();
  busyText_ = L"Oluşturuluyor…";
  SetBusy(true);
  g_buildWindow.store(hwnd_);
  const uintptr_t thread = _beginthreadex(nullptr, 0, BuildThread, job.get(), 0, nullptr);
  if (!thread) {
    SetBusy(false);
    AddLog(L"İş parçacığı başlatılamadı.", kLogError);
    return;
  }
  job.release();  // the thread owns it now
  buildThread_ = reinterpret_cast<HANDLE>(thread);
}

void BuilderWindow::OnBuildFinished(BuildResult* posted) {
  std::unique_ptr<BuildResult> result(posted);
  if (buildThread_) {
    WaitForSingleObject(buildThread_, 2000);
    CloseHandle(buildThread_);
    buildThread_ = nullptr;
  }
  // Progress lines still queued come before the result.
  MSG msg;
  while (PeekMessageW(&msg, hwnd_, WM_BUILD_LOG, WM_BUILD_LOG, PM_REMOVE)) {
    std::unique_ptr<std::wstring> line(reinterpret_cast<std::wstring*>(msg.lParam));
    if (line) AddLog(*line, kLogPlain);
  }
  busy_ = false;
  busyText_.clear();
  buildCancel_.reset();
  KillTimer(hwnd_, 1);
  elapsedMs_ = GetTickCount() - startTick_;
  hasResult_ = true;
  result_ = result ? *result : BuildResult{};
  if (!result_.ok) {
    if (result_.message.empty()) result_.message = L"Bilinmeyen hata.";
    AddLog(L"Oluşturulamadı: " + result_.message, kLogError);
    SetStatus(L"Oluşturulamadı: " + result_.message, true);
  } else {
    AddLog(L"Tamamlandı → " + resultPath_, kLogSuccess);
    AddLog(L"CRC32: " + Hex8Text(result_.crc32) + L"    Boyut: " + formatSize(result_.size), kLogSuccess);
    if (result_.isSigned) AddLog(L"Dijital imza eklendi.", kLogSuccess);
    AddLog(L"sv_patcher_crc32=" + Hex8Text(result_.crc32), kLogSuccess);
    SetStatus(L"Patcher hazır: " + fileName(resultPath_), false);
  }
  EnableFields();
  SaveSession();
  Refresh();
}

bool BuilderWindow::RunBuildNow(const std::wstring& outputPath, BuildResult& result) {
  BuildJob job;
  job.session = ToSession(values_);
  job.skin = skin_;
  job.templatePath = templatePath_;
  job.outputPath = outputPath;
  job.password = values_.password;
  DirectLog log{[this](const std::wstring& line) { AddLog(line, kLogPlain); }};
  result = RunJob(job, LogDirect, &log);
  return result.ok;
}

void BuilderWindow::StartExternalPreview() {
  if (busy_) return;
  if (!skin_.loaded) {
    SetStatus(L"Önce bir skin yükleyin.", true);
    return;
  }
  if (!isFile(templatePath_)) {
    SetStatus(L"Patcher şablonu yok — build.bat ile derleyin.", true);
    return;
  }
  SetStatus(L"Önizleme hazırlanıyor…", false);
  UpdateWindow(hwnd_);
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring folder = temp;
  const std::wstring target = joinPath(folder, L"SarvikPreview.exe");
  // The previous preview still runs from the target: it goes first, or the new one could not
  // replace its file.
  if (previewProcess_) {
    if (WaitForSingleObject(previewProcess_, 0) == WAIT_TIMEOUT) {
      TerminateProcess(previewProcess_, 0);
      WaitForSingleObject(previewProcess_, 3000);
    }
    CloseHandle(previewProcess_);
    previewProcess_ = nullptr;
  }
  BuildResult result;
  if (!RunBuildNow(target, result)) {
    SetStatus(L"Önizleme açılamadı: " + result.message, true);
    AddLog(L"Önizleme hatası: " + result.message, kLogError);
    Refresh();
    return;
  }
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.hwnd = hwnd_;
  info.lpVerb = L"open";
  info.lpFile = target.c_str();
  info.lpParameters = L"--preview";
  info.lpDirectory = folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info)) {
    const std::wstring message = systemErrorText(GetLastError());
    SetStatus(L"Önizleme açılamadı: " + message, true);
    AddLog(L"Önizleme hatası: " + message, kLogError);
  } else {
    previewProcess_ = info.hProcess;
    SetStatus(L"Patcher önizlemesi açıldı (ağ ve disk işlemi yapılmaz).", false);
  }
  Refresh();
}

void BuilderWindow::RebuildLivePreview() {
  preview_.reset();
  previewPixels_.clear();
  previewState_ = ViewState::Preview::None;
  if (!skin_.loaded) return;
  auto model = std::make_unique<PreviewModel>();
  std::wstring error;
  const SkinFields fields = SessionFields(skin_, ToSession(values_));
  if (!BuildPreviewModel(skin_, fields, *model, &error)) {
    AddLog(kPreviewFailedLog + error, kLogError);
    previewState_ = ViewState::Preview::Failed;
    return;
  }
  // The entries moved with the model: the definition reads images from their new home.
  model->skin.setPackage(&model->entries.package);
  if (model->width >= 1 && model->height >= 1) {
    previewPixels_.assign(size_t(model->width) * size_t(model->height), 0);
    renderer_.render(previewPixels_.data(), model->skin, model->states, true);
    previewState_ = ViewState::Preview::Ready;
  }
  preview_ = std::move(model);
}

void BuilderWindow::StartSkinLoad(const std::wstring& path, bool restoring) {
  if (busy_) return;
  auto job = std::make_shared<SkinLoadJob>();
  job->path = path;
  job->restoring = restoring;
  job->window = hwnd_;
  auto* held = new std::shared_ptr<SkinLoadJob>(job);
  const uintptr_t thread = _beginthreadex(nullptr, 0, SkinLoadThread, held, 0, nullptr);
  if (!thread) {
    delete held;
    AddLog(L"İş parçacığı başlatılamadı.", kLogError);
    return;
  }
  loadThread_ = reinterpret_cast<HANDLE>(thread);
  loadJob_ = std::move(job);
  busyText_ = L"Skin yükleniyor… " + fileName(path);
  SetStatus(busyText_, false);
  SetBusy(true);
}

void BuilderWindow::OnSkinLoaded(SkinLoadJob* posted) {
  if (!loadJob_ || posted != loadJob_.get()) return;
  const std::shared_ptr<SkinLoadJob> job = std::move(loadJob_);
  if (loadThread_) {
    WaitForSingleObject(loadThread_, 2000);
    CloseHandle(loadThread_);
    loadThread_ = nullptr;
  }
  busyText_.clear();
  SetBusy(false);
  if (!job->ok && job->cancel.load()) {
    AddLog(L"Skin yüklemesi iptal edildi: " + job->path, kLogWarning);
    SetStatus(L"Skin yüklemesi iptal edildi.", false);
    Refresh();
    return;
  }
  if (!job->restoring) {
    TakeLoadedSkin(job->skin, job->path, job->error, job->ok, false);
    return;
  }
  if (!job->ok) {
    // Every saved value stays, the skin's path included, for the day the skin loads again.
    AddLog(L"Skin yüklenemedi: " + job->error, kLogError);
    SetStatus(L"Skin yüklenemedi: " + job->error, true);
    Refresh();
    return;
  }
  // The session again, over what the skin pre-filled: the operator's values win.
  RestoreHooks hooks;
  hooks.iconUsable = [](const std::wstring& icon) {
    std::string ico;
    return ReadIconForBuild(icon, ico, nullptr);
  };
  hooks.skinExists = [](const std::wstring&) { return true; };
  hooks.loadSkin = [this, &job](const std::wstring& path) -> const SkinImport* {
    return TakeLoadedSkin(job->skin, path, L"", true, true) ? &skin_ : nullptr;
  };
  ApplySession(values_, pendingSession_, hooks);
  WriteFields();
  EnableFields();
  RebuildLivePreview();
  SetStatus(L"Son oturum geri yüklendi — " + fileName(skin_.sourcePath), false);
  Refresh();
}

void BuilderWindow::CancelWork() {
  if (loadJob_) {
    loadJob_->cancel.store(true);
  } else if (buildCancel_) {
    buildCancel_->store(true);
  } else {
    return;
  }
  busyText_ = L"İptal ediliyor…";
  SetStatus(busyText_, false);
  Refresh();
}

}  // namespace sv
