// SarvikBuilderCli.exe: the headless build as a console program, for scripts and CI. Every shell
// (cmd, PowerShell, a CI runner) waits for a console program and receives its exit code, which it
// does not for the window program SarvikBuilder.exe.
//   SarvikBuilderCli.exe --build SESSION.ini [--out PATH]
// Exit codes: 0 built, 1 the build failed, 2 bad arguments or an unreadable session file.
#include <windows.h>

#include <string>
#include <vector>

#include "builder/build_request.h"
#include "builder/headless_build.h"
#include "builder/headless_output_win.h"
#include "common/path.h"
#include "common/system_dlls.h"

int wmain(int argc, wchar_t** argv) {
  // Keep DLLs planted beside the builder or in the current folder out of this process.
  sv::LoadSystemDllsFromSystemFolderOnly();
  std::vector<std::wstring> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  const std::wstring templatePath = sv::joinPath(sv::moduleDirectory(), sv::kTemplateFileName);
  sv::HeadlessOutput out = sv::OpenHeadlessOutput(false);
  return sv::RunHeadlessBuild(args, templatePath, sv::TakePasswordFromEnvironment(), sv::PrintHeadlessLine, &out);
}
