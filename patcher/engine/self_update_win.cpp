// The system calls of the self-update swap: moving and copying program files and starting one.
#include <windows.h>

#include "common/file.h"
#include "common/file_os.h"
#include "patcher/engine/self_update.h"

namespace sv {

SwapSteps SystemSwapSteps(const std::wstring& gameFolder) {
  SwapSteps steps;
  steps.move = [](const std::wstring& from, const std::wstring& to, bool replace, bool allowCopy) {
    const DWORD flags =
        (replace ? MOVEFILE_REPLACE_EXISTING : 0) | (allowCopy ? MOVEFILE_COPY_ALLOWED : 0);
    return MoveFileExW(from.c_str(), to.c_str(), flags) != 0;
  };
  steps.copy = [](const std::wstring& from, const std::wstring& to) {
    return CopyFileW(from.c_str(), to.c_str(), TRUE) != 0;
  };
  steps.remove = [](const std::wstring& path) {
    os::clearReadOnly(path);
    DeleteFileW(path.c_str());
  };
  steps.clearReadOnly = [](const std::wstring& path) { return os::clearReadOnly(path); };
  steps.exists = [](const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  steps.read = [](const std::wstring& path, std::string& bytes) {
    return readWholeFile(path, kPatcherMaxBytes, bytes);
  };
  steps.write = [](const std::wstring& path, const std::string& bytes) {
    return writeFileAtomic(path, bytes.data(), bytes.size());
  };
  steps.start = [gameFolder](const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
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
  steps.sleep = [](uint32_t ms) { Sleep(ms); };
  steps.lastError = [] { return uint32_t(GetLastError()); };
  return steps;
}

}  // namespace sv
