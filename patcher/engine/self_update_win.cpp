// The system calls of the self-update swap: moving program files and starting the new patcher.
#include <windows.h>

#include "patcher/engine/self_update.h"

namespace sv {

SwapSteps SystemSwapSteps(const std::wstring& gameFolder) {
  SwapSteps steps;
  steps.move = [](const std::wstring& from, const std::wstring& to, bool allowCopy) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | (allowCopy ? MOVEFILE_COPY_ALLOWED : 0)) != 0;
  };
  steps.remove = [](const std::wstring& path) { DeleteFileW(path.c_str()); };
  steps.start = [gameFolder](const std::wstring& program) {
    std::wstring commandLine = SelfUpdateCommandLine(program);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        gameFolder.c_str(), &startup, &process)) {
      return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  };
  steps.lastError = [] { return uint32_t(GetLastError()); };
  return steps;
}

}  // namespace sv
