// Reads arbitrary bytes as the local notice file (stored in a scratch game folder, read through
// the patcher's own function): any content yields a version without failing, and a version the
// patcher saves over it reads back exactly.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "fuzz/fuzz_check.h"
#include "patcher/engine/remote_config.h"

using sv::fuzz::Check;

namespace {

const std::wstring& GameFolder() {
  static const std::wstring folder = [] {
    std::filesystem::path path = std::filesystem::temp_directory_path() /
                                 ("sv-notice-fuzz-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(path);
    static std::filesystem::path scratch = path;
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(scratch, ignored);
    });
    return path.wstring();
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring& folder = GameFolder();
  {
    std::ofstream out(std::filesystem::path(folder) / "draskeltorrent.config.xml",
                      std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
  }
  const int32_t version = sv::LocalNoticeVersion(folder, L"");
  const int32_t next = version == INT32_MAX ? 0 : version + 1;  // the file format has no INT32_MIN
  sv::SaveNoticeVersion(folder, L"", next);
  Check(sv::LocalNoticeVersion(folder, L"") == next);
  return 0;
}
