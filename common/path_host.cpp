#include <filesystem>

#include "common/path.h"
#include "common/text.h"

namespace sv {

std::wstring modulePath() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return toWide(exe.string());
}

}  // namespace sv
