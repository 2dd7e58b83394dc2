#pragma once
// INI-style settings text.
#include <map>
#include <string>
#include <string_view>

namespace sv {

// Lower-case "section.key" (or "key" before any section) -> value (UTF-8); later keys replace
// earlier ones.
using IniValues = std::map<std::string, std::string>;

IniValues parseIni(std::string_view bytes);

}  // namespace sv
