#include "patcher/engine/locking_processes.h"

#include <algorithm>
#include <deque>

#include "common/path.h"
#include "common/text.h"

namespace sv {

namespace {

constexpr uint32_t kLowestUserPid = 5;  // 0 idle, 4 System

}  // namespace

bool IsProtectedProcessName(const std::wstring& name) {
  static const wchar_t* const kProtected[] = {
      L"system",       L"smss.exe",          L"csrss.exe",
      L"wininit.exe",  L"winlogon.exe",      L"services.exe",
      L"lsass.exe",    L"svchost.exe",       L"dwm.exe",
      L"explorer.exe", L"fontdrvhost.exe",   L"msmpeng.exe",
      L"nissrv.exe",   L"searchindexer.exe", L"searchprotocolhost.exe",
      L"searchfilterhost.exe"};
  const std::wstring lower = toLowerWide(name);
  for (const wchar_t* p : kProtected) {
    if (lower == p) return true;
  }
  return false;
}

LockingProcess DescribeLockingProcess(uint32_t pid, const RmProcess* rm, const ProcessFacts& facts,
                                      bool ownSessionKnown, uint32_t ownSession) {
  LockingProcess p;
  p.pid = pid;
  if (rm) p.startTime = rm->startTime;
  if (facts.opened) {
    p.path = facts.imagePath;
    if (facts.creationTime != 0) p.startTime = facts.creationTime;
  }
  if (!p.path.empty()) {
    p.name = fileName(p.path);
  } else if (rm && !rm->appName.empty()) {
    p.name = rm->appName;
  } else {
    p.name = L"PID " + std::to_wstring(pid);
  }
  p.closable = true;
  if (pid < kLowestUserPid) p.closable = false;
  if (facts.sessionKnown && ownSessionKnown && facts.session != ownSession) p.closable = false;
  if (rm && (rm->appType == kRmService || rm->appType == kRmExplorer)) p.closable = false;
  if (IsProtectedProcessName(p.name)) p.closable = false;
  // By the time the player answers, the pid may be another program's: a holder is closed only
  // when its start time can be matched again, so one without a start time is left alone.
  if (p.closable && p.startTime == 0) {
    p.closable = false;
    p.identityUnknown = true;
  }
  return p;
}

std::vector<LockingProcess> MergeLockingProcesses(const std::vector<std::wstring>& paths,
                                                  const LockingSources& sources) {
  std::map<uint32_t, RmProcess> fromRm;
  if (sources.restartManager) {
    for (const RmProcess& r : sources.restartManager(paths)) fromRm[r.pid] = r;
  }
  std::vector<uint32_t> pids;
  for (const auto& [pid, info] : fromRm) pids.push_back(pid);
  if (sources.fileProbe) {
    for (const std::wstring& path : paths) {
      for (uint32_t pid : sources.fileProbe(path)) pids.push_back(pid);
    }
  }
  std::sort(pids.begin(), pids.end());
  pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
  pids.erase(std::remove(pids.begin(), pids.end(), sources.ownPid), pids.end());

  std::deque<LockingProcess> ordered;
  for (uint32_t pid : pids) {
    const auto rm = fromRm.find(pid);
    const ProcessFacts facts = sources.describe ? sources.describe(pid) : ProcessFacts{};
    LockingProcess p = DescribeLockingProcess(pid, rm == fromRm.end() ? nullptr : &rm->second,
                                              facts, sources.ownSessionKnown, sources.ownSession);
    if (p.closable) {
      ordered.push_front(std::move(p));
    } else {
      ordered.push_back(std::move(p));
    }
  }
  return {ordered.begin(), ordered.end()};
}

}  // namespace sv
