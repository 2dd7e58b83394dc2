#include <windows.h>
#include <shellapi.h>

#include "common/file.h"
#include "common/path.h"
#include "patcher/app/game_start.h"
#include "patcher/app/startup_plan.h"

namespace sv {

namespace {

class WindowsLaunchHost : public LaunchHost {
public:
  WindowsLaunchHost(HWND window, std::wstring caption)
      : window_(window), caption_(std::move(caption)) {}

  bool CreateProgramProcess(const std::wstring& fullPath, const std::wstring& commandLine,
                            const std::wstring& folder, uint32_t& errorOut) override {
    std::wstring buffer = commandLine;  // CreateProcessW may write into the command line
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(fullPath.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
      errorOut = GetLastError();
      return false;
    }
    // The patcher never waits for the game.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  }

  bool ShellRun(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                const std::wstring& folder, uint32_t& errorOut) override {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = window_;
    info.lpVerb = verb.c_str();
    info.lpFile = file.c_str();
    info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (ShellExecuteExW(&info)) return true;
    errorOut = GetLastError();
    return false;
  }

  bool FileExists(const std::wstring& path) override { return isFile(path); }

  bool ShowBox(const std::wstring& text, BoxKind kind) override {
    UINT flags = MB_OK | MB_ICONINFORMATION;
    if (kind == BoxKind::Warning) flags = MB_OK | MB_ICONWARNING;
    if (kind == BoxKind::Error) flags = MB_OK | MB_ICONERROR;
    if (kind == BoxKind::RetryCancel) flags = MB_RETRYCANCEL | MB_ICONWARNING;
    return MessageBoxW(window_, text.c_str(), caption_.c_str(), flags) == IDRETRY;
  }

  void CloseWindow() override {
    if (window_) PostMessageW(window_, WM_CLOSE, 0, 0);
  }

  std::wstring ProgramPath() override { return modulePath(); }

private:
  HWND window_;
  std::wstring caption_;
};

}  // namespace

std::unique_ptr<LaunchHost> MakeWindowsLaunchHost(void* window, std::wstring caption) {
  return std::make_unique<WindowsLaunchHost>(static_cast<HWND>(window), std::move(caption));
}

int RunSwitchMode(const std::wstring& gameFolder) {
  WindowsLaunchHost host(nullptr, fileStem(modulePath()));
  return sv::RunSwitchMode(host, gameFolder, GetCommandLineW());
}

bool RestartElevated(void* window, const std::wstring& gameFolder, bool repair) {
  const std::wstring program = modulePath();
  const std::wstring arguments = ElevatedArguments(repair);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.hwnd = static_cast<HWND>(window);
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = arguments.c_str();
  info.lpDirectory = gameFolder.c_str();
  info.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&info) != FALSE;
}

}  // namespace sv
