#include <windows.h>
#include <shellapi.h>

#include "patcher/app/command_line.h"

namespace sv {

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine) {
  int count = 0;
  wchar_t** args = CommandLineToArgvW(commandLine, &count);
  if (!args) return {};
  std::vector<std::wstring> arguments(args + (count > 0 ? 1 : 0), args + count);
  LocalFree(args);
  return arguments;
}

std::vector<std::wstring> ProcessArguments() { return SplitCommandLine(GetCommandLineW()); }

}  // namespace sv
