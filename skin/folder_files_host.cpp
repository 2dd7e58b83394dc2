// The host keeps file names as UTF-8 bytes, and the program's '\' separators become '/'.
#include "skin/folder_files.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/text.h"

namespace sv {

bool listFolderFiles(const std::wstring& folder, std::vector<std::wstring>& namesOut) {
  namesOut.clear();
  std::string native = toUtf8(folder);
  std::replace(native.begin(), native.end(), '\\', '/');
  std::error_code ec;
  std::filesystem::directory_iterator it(std::filesystem::path(native), ec);
  if (ec) return false;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) return false;
    if (it->is_directory(ec)) continue;
    namesOut.push_back(toWide(it->path().filename().string()));
  }
  return !ec;
}

}  // namespace sv
