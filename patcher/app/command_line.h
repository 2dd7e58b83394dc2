#pragma once
// The patcher's command line as arguments.
#include <string>
#include <vector>

namespace sv {

// The arguments after the program's name, split the way the shell splits a command line.
std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine);
// SplitCommandLine of this process's command line.
std::vector<std::wstring> ProcessArguments();

}  // namespace sv
