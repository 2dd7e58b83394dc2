#pragma once
// Closing the programs that hold files of the game folder.
#include <string>
#include <vector>

namespace sv {

// The whole life of a patcher started elevated with "--sv-close": closes the processes named in
// `arguments` (those after the program's name) and returns the process exit code (0 all closed
// or gone, 1 some could not be closed, 2 no valid process given). No window, log or lock.
int CloseHelperMode(const std::vector<std::wstring>& arguments);

}  // namespace sv
