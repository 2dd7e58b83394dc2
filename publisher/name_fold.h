#pragma once
// The key under which two release paths name one file on a player's machine. The patcher folds
// with the system's lower-casing (CharLowerBuffW on Windows) and NTFS compares names by its own
// upper-case table; Unicode simple case folding merges every pair either of them merges, so two
// paths with the same key must not both be published.
#include <string>
#include <string_view>

namespace sv {

std::wstring FoldName(std::wstring_view name);

}  // namespace sv
