#include "common/text.h"
#include "patcher/app/instance_lock.h"
#include "common/crc32.h"

namespace sv {

std::wstring InstanceLockName(const std::wstring& folder) {
  std::string bytes = toUtf8(toLowerWide(folder));
  return L"Local\\Sarvik_" + toWide(FormatCrc32(Crc32(bytes.data(), bytes.size())));
}

}  // namespace sv
