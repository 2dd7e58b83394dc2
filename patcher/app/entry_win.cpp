// The patcher's entry point: picks the process's role from the command line, prepares the
// process, loads the skin, runs the main window and releases everything in a fixed order.
#include <windows.h>

#include <memory>

#include "common/file.h"
#include "common/path.h"
#include "common/scoped_win.h"
#include "common/system_dlls.h"
#include "patcher/app/browser_emulation.h"
#include "patcher/app/command_line.h"
#include "patcher/app/game_start.h"
#include "patcher/app/instance_lock.h"
#include "patcher/app/main_window.h"
#include "patcher/app/process_closer.h"
#include "patcher/app/resource_ids.h"
#include "patcher/app/self_update_leftovers.h"
#include "patcher/app/startup_plan.h"
#include "patcher/app/startup_skin.h"
#include "patcher/engine/log.h"
#include "patcher/engine/self_update.h"
#include "skin/skin_definition.h"
#include "skin/skin_package.h"

namespace sv {
namespace {

static_assert(kSkinResourceId == kResSkinPackage, "the builder and the reader must agree");

class LogSession {
public:
  explicit LogSession(const std::wstring& path) {
    if (!path.empty()) OpenLog(path);
  }
  ~LogSession() { CloseLog(); }
  LogSession(const LogSession&) = delete;
  LogSession& operator=(const LogSession&) = delete;
};

// The leftovers of a self-update are removed on a thread of their own once the window is open:
// the previous build may still be ending for a moment.
class LeftoverRemoval {
public:
  LeftoverRemoval(std::wstring tempFolder, std::wstring program)
      : tempFolder_(std::move(tempFolder)), program_(std::move(program)) {
    thread_ = CreateThread(nullptr, 0, Entry, this, 0, nullptr);
    if (!thread_) RemoveSelfUpdateLeftovers(tempFolder_, program_);
  }
  ~LeftoverRemoval() {
    if (thread_) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
    }
  }
  LeftoverRemoval(const LeftoverRemoval&) = delete;
  LeftoverRemoval& operator=(const LeftoverRemoval&) = delete;

private:
  static DWORD WINAPI Entry(void* self) {
    auto* r = static_cast<LeftoverRemoval*>(self);
    RemoveSelfUpdateLeftovers(r->tempFolder_, r->program_);
    return 0;
  }
  std::wstring tempFolder_, program_;
  HANDLE thread_ = nullptr;
};

// A patcher that cannot load its skin or open its window: when the previous build is still kept
// from a self-update, it is put back and started (RestorePreviousPatcher); otherwise the error box.
int FailedStart(const StartupPlan& plan, const std::wstring& programFolder,
                const std::wstring& boxText) {
  if (!plan.preview) {
    SwapSteps steps = SystemSwapSteps(programFolder);
    steps.log = [](const std::wstring& line) { Log(L"%ls", line.c_str()); };
    if (RestorePreviousPatcher(plan.tempFolder, modulePath(), steps)) return 1;
  }
  if (!boxText.empty()) {
    MessageBoxW(nullptr, boxText.c_str(), fileStem(modulePath()).c_str(), MB_ICONERROR);
  }
  return 1;
}

// "--sv-swap": started from a copy of the patcher in the temp folder; puts a build in place of
// the program file and starts it (RunSwapHelper). Its lines go to "<temp>\<name>.swap.log".
int SwapHelperMode(const std::vector<std::wstring>& arguments) {
  const SwapRequest request = ParseSwapArguments(arguments);
  if (!request.valid) return 2;
  const std::wstring gameFolder = parentPath(request.program);
  LogSession log(joinPath(joinPath(gameFolder, L"temp"), fileName(request.program) + L".swap.log"));
  SwapSteps steps = SystemSwapSteps(gameFolder);
  steps.log = [](const std::wstring& line) { Log(L"%ls", line.c_str()); };
  return RunSwapHelper(request, steps);
}

// The ordinary, restarted and preview patcher. The objects below are declared in the order of
// start-up, so they are released in reverse: window, skin, log, GDI+, OLE, then the folder lock.
// The previous build a self-update kept is removed only once this one has loaded its skin and
// opened its window; when it cannot, the previous build goes back.
int RunPatcher(HINSTANCE instance, const StartupPlan& plan, const std::wstring& programFolder) {
  InstanceLock lock;
  if (!plan.preview &&
      lock.Acquire(programFolder, plan.restarted) == InstanceLock::Outcome::OtherRunning) {
    return 0;
  }

  ScopedOle ole;  // the web view needs a single-threaded apartment
  if (!ole.ok()) return 1;
  ScopedGdiplus gdiplus;

  if (!plan.preview) createDirectories(plan.tempFolder);
  if (!plan.staleLogPath.empty()) DeleteFileW(plan.staleLogPath.c_str());
  if (!plan.previousLogPath.empty()) MoveFileExW(plan.logPath.c_str(), plan.previousLogPath.c_str(), MOVEFILE_REPLACE_EXISTING);
  LogSession log(plan.logPath);

  SkinDefinition skin;
  std::wstring boxText;
  if (!LoadStartupSkin(instance, skin, boxText)) return FailedStart(plan, programFolder, boxText);

  // Before any window exists: the setting is read when a web view is created.
  if (skin.settings.browserEmulation) SetBrowserEmulation();

  MainWindow window(skin, programFolder, plan.preview);
  window.SetRestartedAfterUpdate(plan.updated);
  window.SetFirstRunMode(plan.repair ? RunMode::kRepair : RunMode::kUpdate);
  // How a second start of this folder finds this window (the preview carries no tag).
  if (!plan.preview) window.SetInstanceTag(lock.WindowTag());
  if (!window.Create()) return FailedStart(plan, programFolder, L"");
  std::unique_ptr<LeftoverRemoval> leftovers;
  if (!plan.preview) leftovers = std::make_unique<LeftoverRemoval>(plan.tempFolder, modulePath());
  return window.Run();
}

}  // namespace
}  // namespace sv

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  // Keep DLLs planted in the game folder (or the current folder) out of this process.
  sv::LoadSystemDllsFromSystemFolderOnly();

  const std::vector<std::wstring> arguments = sv::ProcessArguments();
  const std::wstring programFolder = sv::moduleDirectory();
  const sv::StartupPlan plan = sv::PlanStartup(arguments, programFolder);
  switch (plan.role) {
    case sv::ProcessRole::RunProgram:
      return sv::RunSwitchMode(programFolder);
    case sv::ProcessRole::CloseHelper:
      return sv::CloseHelperMode(arguments);
    case sv::ProcessRole::SwapHelper:
      return sv::SwapHelperMode(arguments);
    case sv::ProcessRole::Patcher:
      break;
  }
  return sv::RunPatcher(instance, plan, programFolder);
}
