// The two system sources of the holders of a file. Both are looked up at run time: the Restart
// Manager's library and NtQueryInformationFile are not there on every system.
#include <windows.h>
#include <restartmanager.h>
#include <winternl.h>

#include <atomic>
#include <cwchar>

#include "common/scoped_win.h"
#include "common/text.h"
#include "patcher/engine/in_use.h"
#include "patcher/engine/locking_processes.h"
#include "patcher/engine/log.h"

namespace sv {

namespace {

using RmStartSessionFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RmEndSessionFn = DWORD(WINAPI*)(DWORD);
using RmRegisterResourcesFn = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*,
                                             UINT, LPCWSTR*);
using RmGetListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using NtQueryInformationFileFn = LONG(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, PVOID, ULONG, ULONG);

constexpr ULONG kFileProcessIdsUsingFile = 47;
constexpr ULONG kProbeBufferBytes = 65536;
constexpr UINT kFirstListRoom = 16;

uint64_t FileTimeValue(const FILETIME& t) {
  return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::vector<RmProcess> AskRestartManager(const std::vector<std::wstring>& paths) {
  std::vector<RmProcess> out;
  wchar_t system[MAX_PATH];
  const UINT n = GetSystemDirectoryW(system, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return out;
  const std::wstring dll = std::wstring(system) + L"\\rstrtmgr.dll";
  ScopedModule library(LoadLibraryW(dll.c_str()));
  if (!library) return out;
  HMODULE module = library.get();
  const auto start = Resolve<RmStartSessionFn>(module, "RmStartSession");
  const auto end = Resolve<RmEndSessionFn>(module, "RmEndSession");
  const auto reg = Resolve<RmRegisterResourcesFn>(module, "RmRegisterResources");
  const auto list = Resolve<RmGetListFn>(module, "RmGetList");
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (start && end && reg && list && start(&session, 0, key) == ERROR_SUCCESS) {
    std::vector<LPCWSTR> names;
    for (const std::wstring& p : paths) names.push_back(p.c_str());
    DWORD code = names.empty()
                     ? ERROR_SUCCESS
                     : reg(session, UINT(names.size()), names.data(), 0, nullptr, 0, nullptr);
    if (code == ERROR_SUCCESS) {
      std::vector<RM_PROCESS_INFO> info(kFirstListRoom);
      UINT needed = 0, count = UINT(info.size());
      DWORD reasons = 0;
      code = list(session, &needed, &count, info.data(), &reasons);
      if (code == ERROR_MORE_DATA) {
        info.resize(size_t(needed) + 8);
        count = UINT(info.size());
        code = list(session, &needed, &count, info.data(), &reasons);
      }
      if (code == ERROR_SUCCESS) {
        for (UINT i = 0; i < count && i < info.size(); ++i) {
          RmProcess p;
          p.pid = info[i].Process.dwProcessId;
          p.startTime = FileTimeValue(info[i].Process.ProcessStartTime);
          p.appName = info[i].strAppName;
          p.appType = uint32_t(info[i].ApplicationType);
          out.push_back(std::move(p));
        }
      }
    }
    if (code != ERROR_SUCCESS) Log(L"RmGetList hatasi: %u", unsigned(code));
    end(session);
  }
  return out;
}

// Why the probe names nobody; logged once per process.
bool ProbeUnavailable(std::wstring* whyOut, const wchar_t* why, uint32_t code) {
  wchar_t text[96];
  swprintf(text, 96, L"%ls (%08x)", why, unsigned(code));
  if (whyOut) *whyOut = text;
  static std::atomic<bool> logged{false};
  if (!logged.exchange(true)) Log(L"Dosya kullanan sorgusu kullanilamiyor: %ls", text);
  return false;
}

std::vector<uint32_t> ProbeFile(const std::wstring& path) {
  std::vector<uint32_t> out;
  ProbeFileHolders(path, out);
  return out;
}

}  // namespace

bool ProbeFileHolders(const std::wstring& path, std::vector<uint32_t>& pidsOut,
                      std::wstring* whyOut) {
  pidsOut.clear();
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  const auto query =
      ntdll ? Resolve<NtQueryInformationFileFn>(ntdll, "NtQueryInformationFile") : nullptr;
  if (!query) return ProbeUnavailable(whyOut, L"NtQueryInformationFile yok", 0);
  ScopedHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file) {
    if (whyOut) *whyOut = L"dosya acilamadi (" + std::to_wstring(GetLastError()) + L")";
    return false;
  }
  std::vector<ULONG_PTR> buffer(kProbeBufferBytes / sizeof(ULONG_PTR));
  IO_STATUS_BLOCK status = {};
  const LONG result =
      query(file.get(), &status, buffer.data(), kProbeBufferBytes, kFileProcessIdsUsingFile);
  if (result < 0) return ProbeUnavailable(whyOut, L"sinif 47 desteklenmiyor", uint32_t(result));
  // A count, then that many ids, each a pointer-sized number.
  const size_t room = buffer.size() - 1;
  const size_t count = buffer[0] < room ? size_t(buffer[0]) : room;
  for (size_t i = 0; i < count; ++i) pidsOut.push_back(uint32_t(buffer[1 + i]));
  return true;
}

ProcessFacts DescribeSystemProcess(uint32_t pid) {
  ProcessFacts facts;
  DWORD session = 0;
  if (ProcessIdToSessionId(pid, &session)) {
    facts.sessionKnown = true;
    facts.session = session;
  }
  ScopedHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return facts;
  HANDLE h = process.get();
  facts.opened = true;
  std::wstring image(32768, L'\0');
  DWORD size = DWORD(image.size());
  if (QueryFullProcessImageNameW(h, 0, image.data(), &size)) {
    image.resize(size);
    facts.imagePath = image;
  }
  FILETIME created, exited, kernel, user;
  if (GetProcessTimes(h, &created, &exited, &kernel, &user)) {
    facts.creationTime = FileTimeValue(created);
  }
  return facts;
}

LockingSources SystemLockingSources() {
  LockingSources s;
  s.restartManager = AskRestartManager;
  s.fileProbe = ProbeFile;
  s.describe = DescribeSystemProcess;
  s.ownPid = GetCurrentProcessId();
  DWORD session = 0;
  if (ProcessIdToSessionId(s.ownPid, &session)) {
    s.ownSessionKnown = true;
    s.ownSession = session;
  }
  return s;
}

std::vector<LockingProcess> FindLockingProcesses(const std::vector<std::wstring>& paths) {
  return MergeLockingProcesses(paths, SystemLockingSources());
}

}  // namespace sv
