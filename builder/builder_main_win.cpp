// SarvikBuilder's entry point. Without arguments it opens the builder window; "--snap FOLDER
// [SKIN]" captures every section of the window as PNG files and ends; "--build SESSION.ini
// [--out PATH]" runs a build without a window and prints its lines to the standard output the
// caller gave (a pipe or a file), else to the console of the parent process. Scripts and CI use
// the console entry beside it, SarvikBuilderCli.exe, which every shell waits for.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/system_dlls.h"
#include "builder/build_request.h"
#include "builder/builder_window_win.h"
#include "builder/headless_build.h"
#include "builder/headless_output_win.h"
#include "common/path.h"
#include "common/scoped_win.h"
#include "common/text.h"

namespace {

sv::SnapshotRequest SnapshotFromArgs(const std::vector<std::wstring>& args) {
  sv::SnapshotRequest snap;
  for (size_t i = 0; i < args.size(); ++i) {
    if (sv::equalsNoCase(args[i], L"--snap") && i + 1 < args.size()) {
      snap.active = true;
      snap.folder = args[i + 1];
      if (i + 2 < args.size()) snap.skinPath = args[i + 2];
      break;
    }
  }
  return snap;
}

int RunWindow(const std::vector<std::wstring>& args, const std::wstring& templatePath) {
  // A corrupted heap ends the program instead of running on.
  HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
  // Released in reverse: the window, GDI+, then OLE.
  sv::ScopedOle ole;
  sv::ScopedGdiplus gdiplus;
  sv::BuilderWindow window(templatePath, SnapshotFromArgs(args));
  if (!window.Create()) {
    MessageBoxW(nullptr, L"Pencere oluşturulamadı.", sv::kBuilderTitle, MB_OK | MB_ICONERROR);
    return 1;
  }
  return window.Run();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Keep DLLs planted beside the builder or in the current folder out of this process.
  sv::LoadSystemDllsFromSystemFolderOnly();
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::wstring> args;
  for (int i = 1; argv && i < argc; ++i) args.emplace_back(argv[i]);
  if (argv) LocalFree(argv);

  const std::wstring templatePath = sv::joinPath(sv::moduleDirectory(), sv::kTemplateFileName);
  if (sv::IsHeadlessBuild(args)) {
    // A window program: shells do not wait for it. SarvikBuilderCli.exe is the console entry.
    sv::HeadlessOutput out = sv::OpenHeadlessOutput(true);
    return sv::RunHeadlessBuild(args, templatePath, sv::TakePasswordFromEnvironment(), sv::PrintHeadlessLine, &out);
  }
  return RunWindow(args, templatePath);
}
