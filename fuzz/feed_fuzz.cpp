// Reads arbitrary bytes as the news feed: a failure resets the feed, a success holds at most three
// entries with trimmed fields and a player count that is -1 or not negative; parsing the same
// bytes into a feed that held data before gives the same result.
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "patcher/app/feed_document.h"

using sv::fuzz::Check;

namespace {

bool Trimmed(const std::wstring& text) {
  auto space = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; };
  return text.empty() || (!space(text.front()) && !space(text.back()));
}

void CheckItem(const sv::FeedItem& item) {
  Check(Trimmed(item.type) && Trimmed(item.tag) && Trimmed(item.date) && Trimmed(item.title) &&
        Trimmed(item.link));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sv::FeedData feed;
  const bool ok = sv::ParseFeed(sv::fuzz::Bytes(data, size), feed);
  if (!ok) {
    Check(!feed.hasData && feed.items.empty() && !feed.hasBanner);
    return 0;
  }
  Check(feed.items.size() <= sv::kFeedMaxItems);
  Check(feed.players >= -1);
  for (const sv::FeedItem& item : feed.items) CheckItem(item);
  if (feed.hasBanner) CheckItem(feed.banner);

  sv::FeedData earlier;
  earlier.hasData = earlier.hasBanner = true;
  earlier.players = 7;
  earlier.items.resize(3);
  Check(sv::ParseFeed(sv::fuzz::Bytes(data, size), earlier));
  Check(earlier.status == feed.status && earlier.players == feed.players &&
        earlier.hasBanner == feed.hasBanner && earlier.items.size() == feed.items.size());
  return 0;
}
