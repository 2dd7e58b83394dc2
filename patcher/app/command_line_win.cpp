#include <windows.h>
#include <shellapi.h>

#include "patcher/app/command_line.h"

namespace sv {

bool CommandLineHasSwitch(const wchar_t* commandLine, const wchar_t* name) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(commandLine, &count);
  if (!args) return false;
  bool found = false;
  // Ordinal, not lstrcmpiW: the locale-aware comparison gives hyphens less weight.
  for (int i = 1; i < count && !found; ++i) {
    found = CompareStringOrdinal(args[i], -1, name, -1, TRUE) == CSTR_EQUAL;
  }
  LocalFree(args);
  return found;
}

bool HasSwitch(const wchar_t* name) { return CommandLineHasSwitch(GetCommandLineW(), name); }

}  // namespace sv
