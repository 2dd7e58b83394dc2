// SarvikBuilder's entry point. Without arguments it opens the builder window; "--snap FOLDER
// [SKIN]" captures every section of the window as PNG files and ends; "--build SESSION.ini
// [--out PATH]" runs a build without a window and prints its lines to the standard output the
// caller gave (a pipe or a file), else to the console of the parent process.
#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "common/system_dlls.h"
#include "builder/build_request.h"
#include "builder/builder_window_win.h"
#include "builder/headless_build.h"
#include "common/path.h"
#include "common/scoped_win.h"
#include "common/text.h"

namespace {

struct Output {
  HANDLE handle = nullptr;
  bool console = false;
};

Output OpenOutput() {
  Output out;
  HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
  if (inherited && inherited != INVALID_HANDLE_VALUE && GetFileType(inherited) != FILE_TYPE_UNKNOWN) {
    out.handle = inherited;
  } else if (AttachConsole(ATTACH_PARENT_PROCESS)) {
    out.handle = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
  }
  DWORD mode = 0;
  out.console = out.handle && out.handle != INVALID_HANDLE_VALUE && GetConsoleMode(out.handle, &mode);
  return out;
}

// One line per call, CR LF; UTF-8 into pipes and files, UTF-16 into a console.
void PrintLine(void* context, const std::wstring& line) {
  const Output& out = *static_cast<const Output*>(context);
  if (!out.handle || out.handle == INVALID_HANDLE_VALUE) return;
  const std::wstring text = line + L"\r\n";
  DWORD written = 0;
  if (out.console) {
    WriteConsoleW(out.handle, text.data(), DWORD(text.size()), &written, nullptr);
  } else {
    const std::string bytes = sv::toUtf8(text);
    WriteFile(out.handle, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  }
}

// Taken out of the environment as it is read: no child (signtool among them) inherits it, and it
// no longer sits in this process's environment block for other programs to read.
std::wstring TakePasswordFromEnvironment() {
  std::wstring value(4096, L'\0');
  const DWORD n = GetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", value.data(), DWORD(value.size()));
  value.resize(n < value.size() ? n : 0);
  SetEnvironmentVariableW(L"SARVIK_SIGN_PASSWORD", nullptr);
  return value;
}

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
    Output out = OpenOutput();
    return sv::RunHeadlessBuild(args, templatePath, TakePasswordFromEnvironment(), PrintLine, &out);
  }
  return RunWindow(args, templatePath);
}
