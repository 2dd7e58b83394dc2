#pragma once
// Which addresses the patcher hands to the player's browser: only web addresses.
#include <string_view>

namespace sv {

// True when the text begins with "http://" or "https://", ignoring ASCII case.
bool IsWebLink(std::wstring_view url);

}  // namespace sv
