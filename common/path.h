#pragma once
// Path handling on wide strings: both '\' and '/' separate when reading; '\' is written.
#include <string>
#include <string_view>

namespace sv {

std::wstring joinPath(std::wstring_view a, std::wstring_view b);
std::wstring parentPath(std::wstring_view p);
std::wstring fileName(std::wstring_view p);
std::wstring fileStem(std::wstring_view p);
// Full path of the running program (GetModuleFileNameW); empty on failure.
std::wstring modulePath();
std::wstring moduleDirectory();

// The "\\?\" form of a full path, which the system opens past MAX_PATH: "X:\..." and
// "\\server\share\..." get the prefix ("\\?\UNC\" for the latter) with '/' written as '\';
// a path already in that form, a device path or a relative path comes back unchanged.
std::wstring extendedLengthPath(std::wstring_view fullPath);

// CON, PRN, AUX, NUL, COM0-9, LPT0-9 (the part before the first '.', case-insensitive).
bool isReservedDeviceName(std::wstring_view component);
// Turns a server-supplied UTF-8 name into a relative path that cannot leave the target folder.
// `out` is written only on success.
bool makeSafeRelativePath(std::string_view utf8Name, std::wstring& out);

}  // namespace sv
