#include "patcher/engine/process_closing.h"

#include "common/text.h"

namespace sv {

namespace {

constexpr uint32_t kLowestUserPid = 5;

void AddName(std::wstring& list, const std::wstring& name) {
  if (!list.empty()) list += L", ";
  list += name;
}

// A path inside the game folder: relative, no drive, no ".." component.
bool IsSafeRelativePath(const std::wstring& path) {
  if (path.empty() || path[0] == L'\\' || path[0] == L'/' || path.find(L':') != std::wstring::npos) {
    return false;
  }
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = path.size();
    const std::wstring part = path.substr(start, end - start);
    if (part.empty() || part == L"." || part == L"..") return false;
    start = end + 1;
  }
  return true;
}

bool ParseDecimal(const std::wstring& text, uint64_t& out) {
  if (text.empty() || text.size() > 20) return false;
  uint64_t value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
    const uint64_t digit = uint64_t(c - L'0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  out = value;
  return true;
}

}  // namespace

CloseReport CloseProgramsWith(const std::vector<LockingProcess>& processes,
                              const CloseSteps& steps) {
  CloseReport report;
  std::vector<LockingProcess> needAdmin;
  std::wstring needAdminNames;
  // Asked once: the answer does not change while the list is worked through.
  int elevatedState = -1;
  for (const LockingProcess& p : processes) {
    if (!p.closable) continue;
    if (steps.announce) steps.announce(p);
    const int result = steps.closeProcess(p.pid, p.startTime);
    if (result == kCloseDone) continue;
    if (result == kCloseAccessDenied) {
      if (elevatedState < 0) elevatedState = steps.elevated() ? 1 : 0;
      if (elevatedState == 0) {
        needAdmin.push_back(p);
        AddName(needAdminNames, p.name);
        continue;
      }
    }
    AddName(report.failedNames, p.name);
  }
  if (!needAdmin.empty()) {
    steps.log(L"Yonetici izni gerekiyor: " + needAdminNames);
    const int helper = steps.closeElevated(needAdmin);
    if (helper == kHelperDeclined) {
      report.needAdminNames = needAdminNames;
    } else if (helper != kHelperAllClosed) {
      for (const LockingProcess& p : needAdmin) AddName(report.failedNames, p.name);
    }
  }
  if (!report.failedNames.empty()) {
    steps.log(L"Program sonlandirilamadi: " + report.failedNames);
  }
  return report;
}

uint32_t ElevatedHelperWaitMs(size_t processCount) {
  const uint64_t each = uint64_t(kCloseOneBoundMs) + kCloseRefusedWaitMs + kHelperPerProcessOverheadMs;
  const uint64_t total = kHelperOverheadMs + each * processCount;
  return total > UINT32_MAX - 1 ? UINT32_MAX - 1 : uint32_t(total);
}

std::wstring ElevatedCloseParameters(const std::vector<LockingProcess>& processes,
                                     const std::vector<std::wstring>& files) {
  std::wstring text = kCloseSwitch;
  for (const LockingProcess& p : processes) {
    if (p.startTime == 0) continue;
    text += L' ';
    text += std::to_wstring(p.pid);
    text += L':';
    text += std::to_wstring(p.startTime);
  }
  size_t sent = 0;
  for (const std::wstring& f : files) {
    if (sent == kCloseMaxFiles) break;
    if (f.empty() || f.find(L'"') != std::wstring::npos) continue;
    if (sent++ == 0) {
      text += L' ';
      text += kCloseFilesSwitch;
    }
    text += L" \"";
    text += f;
    // A closing quote after a backslash would be read as a quote of the name.
    if (f.back() == L'\\') text += L'\\';
    text += L'"';
  }
  return text;
}

CloseRequest ParseCloseArguments(const std::vector<std::wstring>& arguments) {
  CloseRequest request;
  size_t i = 0;
  while (i < arguments.size() && !equalsNoCase(arguments[i], kCloseSwitch)) ++i;
  bool inFiles = false;
  for (++i; i < arguments.size(); ++i) {
    const std::wstring& a = arguments[i];
    if (!inFiles && equalsNoCase(a, kCloseFilesSwitch)) {
      inFiles = true;
      continue;
    }
    if (inFiles) {
      if (request.files.size() < kCloseMaxFiles && IsSafeRelativePath(a)) request.files.push_back(a);
      continue;
    }
    const size_t colon = a.find(L':');
    uint64_t pid = 0, start = 0;
    if (colon == std::wstring::npos || !ParseDecimal(a.substr(0, colon), pid) ||
        !ParseDecimal(a.substr(colon + 1), start) || pid < kLowestUserPid || pid > UINT32_MAX ||
        start == 0) {
      request.malformed = true;
      continue;
    }
    request.pairs.push_back(ClosePair{uint32_t(pid), start});
  }
  return request;
}

bool SameProcessStart(uint64_t expected, uint64_t actual) {
  return expected != 0 && expected == actual;
}

HelperVerdict DecideHelperClose(const ClosePair& pair, const HelperTargetFacts& facts) {
  if (facts.gone) return HelperVerdict::LeaveAlone;
  if (!facts.closable) return HelperVerdict::Refuse;
  // Without the process's own start time nothing says it is the one the patcher saw.
  if (pair.startTime == 0 || facts.creationTime == 0) return HelperVerdict::Refuse;
  // The pid was reused (or the process is gone): the program asked for is not there any more.
  if (!SameProcessStart(pair.startTime, facts.creationTime)) return HelperVerdict::LeaveAlone;
  if (facts.holdersKnown && !facts.holdsGameFile) return HelperVerdict::LeaveAlone;
  return HelperVerdict::Close;
}

int RunCloseRequest(const CloseRequest& request,
                    const std::function<int(const ClosePair&)>& closeOne) {
  if (request.pairs.empty()) return 2;
  int result = request.malformed ? 2 : 0;
  for (const ClosePair& pair : request.pairs) {
    if (closeOne(pair) != kCloseDone) result = 1;
  }
  return result;
}

}  // namespace sv
