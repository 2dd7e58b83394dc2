#pragma once
// The headless build's --check: the configuration at the patcher's address and the list of each
// of its sources, fetched once with the patcher's own HTTP client, parsers and retries, and what a
// player would meet said in one line each.
#include <string>
#include <vector>

namespace sv {

struct LiveCheck {
  std::vector<std::wstring> lines;  // what was found, in order
  size_t problems = 0;              // lines that name something players would fail on
};

LiveCheck CheckLiveRelease(const std::wstring& configUrl);

}  // namespace sv
