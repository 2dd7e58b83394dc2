#pragma once
// The --exclude patterns of a release build, matched against client paths written with '/'.
#include <string>
#include <string_view>
#include <vector>

namespace sv {

// '*' matches any run of characters other than '/', "**" any run at all, '?' one character
// other than '/'; ASCII letters match either case (a Windows client folder ignores case).
bool GlobMatch(std::string_view pattern, std::string_view text);

// A pattern without '/' is matched against every component of the path (so "*.log" excludes log
// files anywhere and "screenshots" a folder of that name); a pattern with '/' against the whole
// path and against each leading folder of it ("logs/old" excludes everything below logs/old).
bool IsExcluded(const std::vector<std::string>& patterns, std::string_view path);

}  // namespace sv
