#include "common/folder_list.h"

namespace sv {

bool listFolderFiles(const std::wstring& folder, std::vector<std::wstring>& namesOut) {
  namesOut.clear();
  std::vector<FolderItem> items;
  if (!listFolder(folder, L"*", items)) return false;
  for (FolderItem& item : items) {
    if (!item.directory) namesOut.push_back(std::move(item.name));
  }
  return true;
}

}  // namespace sv
