#pragma once
// Listing of the items directly inside one folder (no recursion).
#include <string>
#include <vector>

namespace sv {

struct FolderItem {
  std::wstring name;  // without the folder
  bool directory = false;
};

// The items of `folder` whose names match `pattern`, in listing order, without "." and "..".
// The pattern is "*" (everything) or a beginning followed by "*" ("sv_*"), compared without
// regard to case. False when the folder cannot be listed; a folder with no match lists nothing.
bool listFolder(const std::wstring& folder, const std::wstring& pattern,
                std::vector<FolderItem>& itemsOut);

// Names of the items of `folder` that are not directories, in listing order. False when the
// folder cannot be listed.
bool listFolderFiles(const std::wstring& folder, std::vector<std::wstring>& namesOut);

}  // namespace sv
