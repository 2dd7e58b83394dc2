#include "patcher/app/feed_document.h"

#include "common/text.h"
#include "common/xml.h"

namespace sv {

namespace {

std::wstring TrimmedAttribute(const XmlNode& node, std::string_view name) {
  return trim(toWide(node.attribute(name)));
}

FeedItem ReadItem(const XmlNode& node) {
  FeedItem item;
  item.type = TrimmedAttribute(node, "type");
  item.tag = TrimmedAttribute(node, "tag");
  item.date = TrimmedAttribute(node, "date");
  item.title = TrimmedAttribute(node, "title");
  item.link = TrimmedAttribute(node, "link");
  return item;
}

}  // namespace

bool ParseFeed(std::string_view bytes, FeedData& feedOut) {
  feedOut = FeedData();
  if (bytes.empty()) return false;
  XmlDocument doc;
  if (!doc.parse(decodeTextToUtf8(bytes)) || !equalsNoCase(doc.name, "patcher_feed")) return false;

  FeedData feed;
  feed.hasData = true;
  feed.status = trim(toWide(doc.attribute("status", "offline")));
  int64_t players = -1;
  if (doc.findAttribute("online") && parseInt64(doc.attribute("online"), players) && players >= 0) {
    feed.players = players;
  }
  feed.link = TrimmedAttribute(doc, "link");
  for (const XmlNode& child : doc.children) {
    if (equalsNoCase(child.name, "banner")) {
      feed.hasBanner = true;
      feed.banner = ReadItem(child);
    } else if (equalsNoCase(child.name, "item") && feed.items.size() < kFeedMaxItems) {
      feed.items.push_back(ReadItem(child));
    }
  }
  feedOut = std::move(feed);
  return true;
}

uint32_t FeedIntervalMs(int32_t refreshSeconds) {
  // The cap keeps the product below 0xFFFFFFFF, which a wait would read as "forever".
  constexpr int32_t kMaxSeconds = 4294967;
  const int32_t seconds = refreshSeconds < 15 ? 15 : refreshSeconds > kMaxSeconds ? kMaxSeconds : refreshSeconds;
  return uint32_t(seconds) * 1000u;
}

std::wstring GroupThousands(int64_t value) {
  const bool negative = value < 0;
  // Through unsigned so that the most negative value has a magnitude too.
  uint64_t magnitude = negative ? 0 - uint64_t(value) : uint64_t(value);
  std::wstring digits = std::to_wstring(magnitude);
  std::wstring out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += L'.';
    out += digits[i];
  }
  return negative ? L"-" + out : out;
}

}  // namespace sv
