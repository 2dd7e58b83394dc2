#include "skin/folder_files.h"

#include <windows.h>

#include "common/path.h"

namespace sv {

bool listFolderFiles(const std::wstring& folder, std::vector<std::wstring>& namesOut) {
  namesOut.clear();
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW(joinPath(folder, L"*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return false;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      namesOut.emplace_back(found.cFileName);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  return true;
}

}  // namespace sv
