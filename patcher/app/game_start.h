#pragma once
// Starting the game.
#include <string>

namespace sv {

// The whole life of a patcher started elevated with "--sv-run": starts the program named on its
// command line from `gameFolder` and returns the process exit code. No window, log or lock.
int RunSwitchMode(const std::wstring& gameFolder);

}  // namespace sv
