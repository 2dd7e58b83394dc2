#pragma once
// Closing the programs that hold files of the game folder.

namespace sv {

// The whole life of a patcher started elevated with "--sv-close": closes the processes named on
// its command line and returns the process exit code (0 all closed or gone, 1 some could not be
// closed, 2 no valid process given). No window, log or lock.
int CloseHelperMode();

}  // namespace sv
