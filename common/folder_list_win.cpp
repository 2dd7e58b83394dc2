#include <windows.h>

#include "common/folder_list.h"
#include "common/path.h"
#include "common/scoped_win.h"

namespace sv {

bool listFolder(const std::wstring& folder, const std::wstring& pattern,
                std::vector<FolderItem>& itemsOut) {
  itemsOut.clear();
  WIN32_FIND_DATAW found;
  ScopedFindHandle find(FindFirstFileW(joinPath(folder, pattern).c_str(), &found));
  if (!find) {
    // Nothing matched in a folder that is there; some systems say the same of a missing folder.
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
  }
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    itemsOut.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(find.get(), &found));
  return true;
}

}  // namespace sv
