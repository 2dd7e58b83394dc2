// POSIX terminal test for the progress line.
#include <unistd.h>

#include "publisher/progress_line.h"

namespace sv {

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) != 0; }

}  // namespace sv
