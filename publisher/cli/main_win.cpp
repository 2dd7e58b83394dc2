// SarvikPublish on Windows: the arguments are taken as UTF-16 from the command line (the ANSI
// ones cannot hold every file name) and the console is switched to UTF-8 for the messages.
#include <windows.h>
#include <shellapi.h>

#include <iostream>
#include <memory>

#include "common/text.h"
#include "publisher/progress_line.h"
#include "publisher/publish_tool.h"

namespace {

struct LocalFreeDeleter {
  void operator()(LPWSTR* p) const { LocalFree(p); }
};

}  // namespace

int main() {
  int argc = 0;
  std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
  if (!argv) {
    std::cerr << "error: cannot read the command line (" << GetLastError() << ")\n";
    return sv::kExitFailed;
  }
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(sv::toUtf8(argv.get()[i]));
  const UINT previous = GetConsoleOutputCP();
  SetConsoleOutputCP(CP_UTF8);
  int code = sv::RunPublishTool(args, std::cout, std::cerr, sv::StandardErrorIsTerminal());
  std::cout.flush();
  std::cerr.flush();
  SetConsoleOutputCP(previous);
  return code;
}
