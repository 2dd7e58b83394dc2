#include "common/text.h"
#include "patcher/app/instance_lock.h"
#include "common/crc32.h"

namespace sv {

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring Crc32Hex(const std::wstring& text) {
  const std::string bytes = toUtf8(text);
  return toWide(FormatCrc32(Crc32(bytes.data(), bytes.size())));
}

}  // namespace

std::wstring NormalizeLockFolder(const std::wstring& folder) {
  std::wstring p = folder;
  for (wchar_t& c : p) {
    if (c == L'/') c = L'\\';
  }
  if (p.rfind(L"\\\\?\\UNC\\", 0) == 0) {
    p = L"\\\\" + p.substr(8);
  } else if (p.rfind(L"\\\\?\\", 0) == 0) {
    p = p.substr(4);
  }
  // "C:\" keeps its separator: "C:" alone names the drive's current folder.
  const size_t keep = (p.size() >= 3 && p[1] == L':') ? 3 : 1;
  while (p.size() > keep && IsSeparator(p.back())) p.pop_back();
  return toLowerWide(p);
}

std::wstring InstanceLockName(const std::wstring& folder) {
  return L"Local\\Sarvik_" + Crc32Hex(NormalizeLockFolder(folder));
}

std::wstring InstanceWindowTag(const std::wstring& lockName) { return L"SarvikLock_" + Crc32Hex(lockName); }

LockStep DecideLockStep(MutexOpen opened, bool restarted) {
  switch (opened) {
    case MutexOpen::Created:
      return LockStep::Own;
    case MutexOpen::Existed:
    case MutexOpen::AccessDenied:
      return restarted ? LockStep::WaitForOld : LockStep::ActivateOther;
    case MutexOpen::Failed:
      break;
  }
  return LockStep::GoOnWithout;
}

}  // namespace sv
