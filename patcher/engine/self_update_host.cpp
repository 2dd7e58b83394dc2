// The self-update's system calls on the host: file moves and copies, and starting a program.
#include <spawn.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "common/clock_os.h"
#include "common/file.h"
#include "common/file_os.h"
#include "common/text.h"
#include "patcher/engine/self_update.h"

extern char** environ;

namespace sv {

namespace {

thread_local uint32_t tError = 0;

bool Failed(uint32_t code) {
  tError = code;
  return false;
}

// The arguments of a Windows command line: separated by spaces, double quotes group.
std::vector<std::string> SplitArguments(const std::wstring& text) {
  std::vector<std::string> out;
  std::wstring current;
  bool quoted = false, any = false;
  for (wchar_t c : text) {
    if (c == L'"') {
      quoted = !quoted;
      any = true;
    } else if (c == L' ' && !quoted) {
      if (any) out.push_back(os::systemPath(current));
      current.clear();
      any = false;
    } else {
      current += c;
      any = true;
    }
  }
  if (any) out.push_back(os::systemPath(current));
  return out;
}

}  // namespace

SwapSteps SystemSwapSteps(const std::wstring& gameFolder) {
  SwapSteps steps;
  steps.move = [](const std::wstring& from, const std::wstring& to, bool replace, bool allowCopy) {
    tError = 0;
    if (!replace && os::queryAttributes(to).exists) return Failed(183);  // ERROR_ALREADY_EXISTS
    return os::moveFile(from, to, allowCopy);
  };
  steps.copy = [](const std::wstring& from, const std::wstring& to) {
    tError = 0;
    std::error_code error;
    if (!std::filesystem::copy_file(os::systemPath(from), os::systemPath(to), error)) {
      return Failed(error == std::errc::file_exists ? 80 : 5);
    }
    return true;
  };
  steps.remove = [](const std::wstring& path) {
    os::clearReadOnly(path);
    os::deleteFile(path);
  };
  steps.clearReadOnly = [](const std::wstring& path) { return os::clearReadOnly(path); };
  steps.exists = [](const std::wstring& path) { return os::queryAttributes(path).exists; };
  steps.read = [](const std::wstring& path, std::string& bytes) {
    return readWholeFile(path, kPatcherMaxBytes, bytes);
  };
  steps.write = [](const std::wstring& path, const std::string& bytes) {
    return writeFileAtomic(path, bytes.data(), bytes.size());
  };
  steps.start = [gameFolder](const std::wstring& program, const std::wstring& arguments) {
    const std::string path = os::systemPath(program);
    // Windows runs any program file; here the file a move or a copy made needs its execute bits.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) ::chmod(path.c_str(), st.st_mode | 0111);
    const std::string folder = os::systemPath(gameFolder);
    std::vector<std::string> args = SplitArguments(arguments);
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    const int error = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    // glibc reports a failed exec here, so a file that is no program fails as on Windows
    // (ERROR_BAD_EXE_FORMAT, as CreateProcessW reports it).
    tError = error == 0 ? 0 : error == ENOEXEC ? 193 : error == ENOENT ? 2 : 5;
    return error == 0;
  };
  steps.sleep = [](uint32_t ms) { os::sleepMs(ms); };
  steps.lastError = [] { return tError ? tError : os::lastError(); };
  return steps;
}

// The host has no code signing the patcher could check: the CRC rule alone applies.
FileSignature ReadFileSignature(const std::wstring&) { return {}; }

}  // namespace sv
