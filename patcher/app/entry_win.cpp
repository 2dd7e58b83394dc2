// The patcher's entry point: picks the process's role from the command line, prepares the
// process, loads the skin, runs the main window and releases everything in a fixed order.
#include <windows.h>

#include "common/file.h"
#include "common/path.h"
#include "common/scoped_win.h"
#include "patcher/app/browser_emulation.h"
#include "patcher/app/command_line.h"
#include "patcher/app/game_start.h"
#include "patcher/app/instance_lock.h"
#include "patcher/app/main_window.h"
#include "patcher/app/process_closer.h"
#include "patcher/app/resource_ids.h"
#include "patcher/app/self_update_leftovers.h"
#include "patcher/app/startup_skin.h"
#include "patcher/engine/log.h"
#include "skin/skin_definition.h"
#include "skin/skin_package.h"

namespace sv {
namespace {

static_assert(kSkinResourceId == kResSkinPackage, "the builder and the reader must agree");

constexpr wchar_t kLogFileName[] = L"Sarvik.log";

class LogSession {
public:
  explicit LogSession(bool open, const std::wstring& path) {
    if (open) OpenLog(path);
  }
  ~LogSession() { CloseLog(); }
  LogSession(const LogSession&) = delete;
  LogSession& operator=(const LogSession&) = delete;
};

// The ordinary, restarted and preview patcher. The objects below are declared in the order of
// start-up, so they are released in reverse: window, skin, log, GDI+, OLE, then the folder lock.
int RunPatcher(HINSTANCE instance) {
  const bool preview = HasSwitch(L"--preview");
  const bool restarted = HasSwitch(L"--sv-updated") || HasSwitch(L"--sv-elevated");

  const std::wstring programFolder = moduleDirectory();
  const std::wstring programPath = modulePath();
  const std::wstring tempFolder = joinPath(programFolder, L"temp");

  if (!preview) RemoveSelfUpdateLeftovers(tempFolder, programPath);

  // A preview runs beside the real patcher of the same folder, so it takes no lock.
  InstanceLock lock;
  if (!preview && lock.Acquire(programFolder, restarted) == InstanceLock::Outcome::OtherRunning) {
    return 0;
  }

  ScopedOle ole;  // the web view needs a single-threaded apartment
  if (!ole.ok()) return 1;
  ScopedGdiplus gdiplus;

  if (!preview) {
    createDirectories(tempFolder);
    DeleteFileW(joinPath(programFolder, kLogFileName).c_str());  // a stale log beside the program
  }
  LogSession log(!preview, joinPath(tempFolder, kLogFileName));

  SkinDefinition skin;
  if (!LoadStartupSkin(instance, skin)) return 1;

  // Before any window exists: the setting is read when a web view is created.
  if (skin.settings.browserEmulation) SetBrowserEmulation();

  MainWindow window(skin, programFolder, preview);
  if (!window.Create()) return 1;
  return window.Run();
}

}  // namespace
}  // namespace sv

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  // Keep DLLs planted in the game folder (or the current folder) out of our imports.
  SetDllDirectoryW(L"");

  if (sv::HasSwitch(L"--sv-run")) return sv::RunSwitchMode(sv::moduleDirectory());
  if (sv::HasSwitch(L"--sv-close")) return sv::CloseHelperMode();
  return sv::RunPatcher(instance);
}
