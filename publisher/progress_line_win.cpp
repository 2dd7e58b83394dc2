// Console test for the progress line: a redirected handle has no console mode.
#include <windows.h>

#include "publisher/progress_line.h"

namespace sv {

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace sv
