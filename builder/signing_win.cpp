// The SDK folder search and the hidden child process of signing.
#include <windows.h>

#include "builder/signing.h"
#include "common/file.h"
#include "common/folder_list.h"
#include "common/scoped_win.h"
#include "common/text.h"

namespace sv {

namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t buffer[1024];
  const DWORD n = GetEnvironmentVariableW(name, buffer, 1024);
  return n > 0 && n < 1024 ? std::wstring(buffer, n) : std::wstring();
}

}  // namespace

std::wstring FindSignTool() {
  std::vector<std::wstring> bases;
  for (const wchar_t* name : {L"ProgramFiles(x86)", L"ProgramFiles"}) {
    std::wstring base = EnvironmentValue(name);
    if (!base.empty()) bases.push_back(base);
  }
  std::vector<SignToolCandidate> found;
  for (const std::wstring& base : bases) {
    const std::wstring bin = base + L"\\Windows Kits\\10\\bin";
    std::vector<FolderItem> versions;
    listFolder(bin, L"10.*", versions);
    for (const FolderItem& version : versions) {
      if (!version.directory) continue;
      for (const wchar_t* arch : {L"x86", L"x64"}) {
        const std::wstring candidate = bin + L"\\" + version.name + L"\\" + arch + L"\\signtool.exe";
        if (isFile(candidate)) found.push_back({version.name, candidate});
      }
    }
  }
  if (std::wstring best = PickSignTool(found); !best.empty()) return best;
  for (const std::wstring& base : bases) {
    for (const wchar_t* rest : {L"\\Windows Kits\\10\\bin\\x86\\signtool.exe",
                                L"\\Windows Kits\\10\\App Certification Kit\\signtool.exe",
                                L"\\Windows Kits\\8.1\\bin\\x86\\signtool.exe"}) {
      if (isFile(base + rest)) return base + rest;
    }
  }
  return {};
}

namespace {

// Whatever the pipe holds now, without waiting for more.
void ReadAvailable(HANDLE pipe, std::string& bytes) {
  char chunk[4096];
  DWORD available = 0, got = 0;
  while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
         ReadFile(pipe, chunk, available < sizeof chunk ? available : DWORD(sizeof chunk), &got, nullptr) && got > 0)
    bytes.append(chunk, got);
}

}  // namespace

bool RunCaptured(const std::wstring& commandLine, std::wstring& outputOut, uint32_t& exitCodeOut,
                 uint32_t timeoutMs) {
  outputOut.clear();
  exitCodeOut = 0;
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readPipe = nullptr, writePipe = nullptr;
  if (!CreatePipe(&readPipe, &writePipe, &sa, 0)) return false;
  ScopedHandle readEnd(readPipe), writeEnd(writePipe);
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  si.hStdOutput = writeEnd.get();
  si.hStdError = writeEnd.get();
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi{};
  std::wstring mutableLine = commandLine;
  const BOOL started = CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      nullptr, nullptr, &si, &pi);
  writeEnd.reset();
  if (!started) return false;
  ScopedHandle process(pi.hProcess), thread(pi.hThread);
  // Read while waiting: the tool never stalls on a full pipe, and one that does not end is ended
  // at the limit even while it holds the pipe open without writing (reading to the pipe's end
  // first would wait for it for ever).
  std::string bytes;
  const DWORD start = GetTickCount();
  bool ended = false;
  for (;;) {
    ReadAvailable(readEnd.get(), bytes);
    if (ended) break;
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeoutMs) break;
    const DWORD slice = timeoutMs - elapsed < 50 ? timeoutMs - elapsed : 50;
    ended = WaitForSingleObject(process.get(), slice) == WAIT_OBJECT_0;
  }
  if (!ended) {
    TerminateProcess(process.get(), ERROR_TIMEOUT);
    WaitForSingleObject(process.get(), 5000);
    ReadAvailable(readEnd.get(), bytes);
    outputOut = trim(trim(toWide(bytes, CP_ACP)) + L"\n" + TimedOutText(timeoutMs));
    exitCodeOut = ERROR_TIMEOUT;
    return false;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  exitCodeOut = code;
  outputOut = trim(toWide(bytes, CP_ACP));
  return true;
}

}  // namespace sv
