#pragma once
// The news feed document (root `patcher_feed`): the server's state, its player count, a banner
// and up to three news entries. Parsing only; fetching is the feed client's, showing it the feed
// display's.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

struct FeedItem {
  std::wstring type, tag, date, title, link;  // each trimmed
};

constexpr size_t kFeedMaxItems = 3;

// The last good feed.
struct FeedData {
  bool hasData = false;  // a feed has been parsed successfully at least once
  std::wstring status;   // "offline" when the document names none
  int64_t players = -1;  // -1 when absent or not a non-negative number
  std::wstring link;
  bool hasBanner = false;
  FeedItem banner;              // a later banner replaces an earlier one
  std::vector<FeedItem> items;  // document order, at most kFeedMaxItems
};

// False (and `feedOut` reset) for empty input, XML that does not parse or another root name.
// The bytes may be in any encoding the text decoder recognises.
bool ParseFeed(std::string_view bytes, FeedData& feedOut);

// The refresh period of the feed thread: never more often than every 15 s.
uint32_t FeedIntervalMs(int32_t refreshSeconds);

// Decimal with a "." in front of every group of three digits from the right: 1.234.567.
std::wstring GroupThousands(int64_t value);

}  // namespace sv
