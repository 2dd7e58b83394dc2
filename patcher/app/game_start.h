#pragma once
// Starting the game with the real Windows calls (the decisions are in game_launch.h).
#include <memory>
#include <string>

#include "patcher/app/game_launch.h"

namespace sv {

// CreateProcessW, ShellExecuteExW and message boxes owned by `window` (an HWND, may be null),
// captioned `caption`.
std::unique_ptr<LaunchHost> MakeWindowsLaunchHost(void* window, std::wstring caption);

// The whole life of a patcher started elevated with "--sv-run": starts the program named on its
// command line from `gameFolder` and returns the process exit code. No window, log or lock.
int RunSwitchMode(const std::wstring& gameFolder);

// Asks the shell to start this patcher again elevated (see ElevatedArguments); true when it did.
bool RestartElevated(void* window, const std::wstring& gameFolder, bool repair);

}  // namespace sv
