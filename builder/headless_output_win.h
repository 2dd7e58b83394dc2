#pragma once
// Where the headless build prints and what it takes from its environment, shared by the console
// entry (SarvikBuilderCli.exe) and the window program's "--build".
#include <windows.h>

#include <string>

namespace sv {

struct HeadlessOutput {
  HANDLE handle = nullptr;
  bool console = false;
};

// The standard output the caller gave (a pipe, a file or a console); else, when asked, the console
// of the parent process (the window program has none of its own).
HeadlessOutput OpenHeadlessOutput(bool attachParentConsole);

// One line per call, CR LF; UTF-8 into pipes and files, UTF-16 into a console.
void PrintHeadlessLine(void* context, const std::wstring& line);

// SARVIK_SIGN_PASSWORD, taken out of the environment as it is read: no child (signtool among
// them) inherits it, and it no longer sits in this process's environment block.
std::wstring TakePasswordFromEnvironment();

}  // namespace sv
