// The patcher's entry point: picks the process's role from the command line, prepares the
// process, loads the skin, runs the main window and releases everything in a fixed order.
#include <windows.h>

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

// The ordinary, restarted and preview patcher. The objects below are declared in the order of
// start-up, so they are released in reverse: window, skin, log, GDI+, OLE, then the folder lock.
int RunPatcher(HINSTANCE instance, const StartupPlan& plan, const std::wstring& programFolder) {
  if (!plan.preview) RemoveSelfUpdateLeftovers(plan.tempFolder, modulePath());

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
  LogSession log(plan.logPath);

  SkinDefinition skin;
  if (!LoadStartupSkin(instance, skin)) return 1;

  // Before any window exists: the setting is read when a web view is created.
  if (skin.settings.browserEmulation) SetBrowserEmulation();

  MainWindow window(skin, programFolder, plan.preview);
  // How a second start of this folder finds this window (the preview carries no tag).
  if (!plan.preview) window.SetInstanceTag(lock.WindowTag());
  if (!window.Create()) return 1;
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
    case sv::ProcessRole::Patcher:
      break;
  }
  return sv::RunPatcher(instance, plan, programFolder);
}
