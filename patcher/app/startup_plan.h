#pragma once
// What one start of the patcher does, decided from its arguments and its folder before anything
// touches the system.
#include <string>
#include <string_view>
#include <vector>

namespace sv {

enum class ProcessRole {
  RunProgram,   // "--sv-run": starts a program for a patcher that runs without rights
  CloseHelper,  // "--sv-close": closes the processes named after it, elevated
  SwapHelper,   // "--sv-swap": puts a new patcher build in place of the program file and starts it
  Patcher,      // the window, for a player, after a self-update or elevation, or as a preview
};

struct StartupPlan {
  ProcessRole role = ProcessRole::Patcher;
  // A preview runs beside the real patcher of the same folder: it takes no folder lock, removes
  // no self-update leftovers, keeps no log and creates no temp folder.
  bool preview = false;
  // Started again by a self-update or an elevation: the old process may still hold the lock.
  bool restarted = false;
  // Started by a self-update ("--sv-updated"): this run takes no other patcher build.
  bool updated = false;
  // "--sv-repair": the first run reads every file instead of trusting the cache.
  bool repair = false;
  std::wstring tempFolder;    // the program folder's "temp"
  std::wstring logPath;       // this run's log; empty when the run keeps none
  // The previous start's log is moved here before this run's begins: a self-update, which starts
  // the patcher again, would otherwise leave no trace of the run that took it.
  std::wstring previousLogPath;
  std::wstring staleLogPath;  // a log beside the program, from older patchers; empty to keep it
};

// True when one of the arguments (those after the program's name) is `name`, ignoring ASCII case;
// parts of an argument do not count.
bool HasSwitch(const std::vector<std::wstring>& arguments, std::wstring_view name);

StartupPlan PlanStartup(const std::vector<std::wstring>& arguments,
                        const std::wstring& programFolder);

// The arguments of this patcher started again elevated: it takes over from this one, and a
// repair that needed the rights goes on as a repair.
std::wstring ElevatedArguments(bool repair);

}  // namespace sv
