#pragma once
// Listing of the plain files directly inside one folder.
#include <string>
#include <vector>

namespace sv {

// Names (without folder) of the items of `folder` that are not directories, in listing order.
// False when the folder cannot be listed.
bool listFolderFiles(const std::wstring& folder, std::vector<std::wstring>& namesOut);

}  // namespace sv
