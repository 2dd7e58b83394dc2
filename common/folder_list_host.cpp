// The host keeps file names as UTF-8 bytes, and the program's '\' separators become '/'.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/folder_list.h"
#include "common/text.h"

namespace sv {

namespace {

// FindFirstFileW's matching for the two pattern shapes the program uses.
bool Matches(const std::wstring& name, const std::wstring& pattern) {
  if (pattern.empty() || pattern.back() != L'*') return equalsNoCase(name, pattern);
  const size_t begin = pattern.size() - 1;
  return name.size() >= begin && equalsNoCase(std::wstring_view(name).substr(0, begin),
                                               std::wstring_view(pattern).substr(0, begin));
}

}  // namespace

bool listFolder(const std::wstring& folder, const std::wstring& pattern,
                std::vector<FolderItem>& itemsOut) {
  itemsOut.clear();
  std::string native = toUtf8(folder);
  std::replace(native.begin(), native.end(), '\\', '/');
  std::error_code ec;
  std::filesystem::directory_iterator it(std::filesystem::path(native), ec);
  if (ec) return false;
  for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
    if (ec) return false;
    const std::wstring name = toWide(it->path().filename().string());
    if (!Matches(name, pattern)) continue;
    std::error_code typeError;
    itemsOut.push_back({name, it->is_directory(typeError)});
  }
  return !ec;
}

}  // namespace sv
