// The self-update's system calls on the host: file moves and the start of the new program.
#include <spawn.h>

#include <cerrno>

#include "common/file_os.h"
#include "common/text.h"
#include "patcher/engine/self_update.h"

extern char** environ;

namespace sv {

namespace {

thread_local uint32_t tStartError = 0;


}  // namespace

SwapSteps SystemSwapSteps(const std::wstring& gameFolder) {
  SwapSteps steps;
  steps.move = [](const std::wstring& from, const std::wstring& to, bool allowCopy) {
    tStartError = 0;
    return os::moveFile(from, to, allowCopy);
  };
  steps.remove = [](const std::wstring& path) { os::deleteFile(path); };
  steps.start = [gameFolder](const std::wstring& program) {
    const std::string path = os::systemPath(program);
    const std::string folder = os::systemPath(gameFolder);
    const std::string updated = toUtf8(kUpdatedSwitch);
    char* argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(updated.c_str()), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    const int error = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    // ERROR_BAD_EXE_FORMAT for a file that is no program, as CreateProcessW reports it.
    tStartError = error == 0 ? 0 : error == ENOEXEC ? 193 : error == ENOENT ? 2 : 5;
    // glibc reports a failed exec here, so a file that is no program fails as on Windows.
    return error == 0;
  };
  steps.lastError = [] { return tStartError ? tStartError : os::lastError(); };
  return steps;
}

// The host has no code signing the patcher could check: the CRC rule alone applies.
FileSignature ReadFileSignature(const std::wstring&) { return {}; }

}  // namespace sv
