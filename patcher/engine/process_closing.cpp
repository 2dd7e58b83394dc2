#include "patcher/engine/process_closing.h"

#include "common/text.h"

namespace sv {

namespace {

constexpr uint32_t kLowestUserPid = 5;

void AddName(std::wstring& list, const std::wstring& name) {
  if (!list.empty()) list += L", ";
  list += name;
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

std::wstring ElevatedCloseParameters(const std::vector<LockingProcess>& processes) {
  std::wstring text = kCloseSwitch;
  for (const LockingProcess& p : processes) {
    text += L' ';
    text += std::to_wstring(p.pid);
    text += L':';
    text += std::to_wstring(p.startTime);
  }
  return text;
}

CloseRequest ParseCloseArguments(const std::vector<std::wstring>& arguments) {
  CloseRequest request;
  size_t i = 0;
  while (i < arguments.size() && !equalsNoCase(arguments[i], kCloseSwitch)) ++i;
  for (++i; i < arguments.size(); ++i) {
    const std::wstring& a = arguments[i];
    const size_t colon = a.find(L':');
    uint64_t pid = 0, start = 0;
    if (colon == std::wstring::npos || !ParseDecimal(a.substr(0, colon), pid) ||
        !ParseDecimal(a.substr(colon + 1), start) || pid < kLowestUserPid || pid > UINT32_MAX) {
      request.malformed = true;
      continue;
    }
    request.pairs.push_back(ClosePair{uint32_t(pid), start});
  }
  return request;
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
