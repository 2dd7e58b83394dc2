#pragma once
// Turns the last good feed into the texts, colours, visibility and click links of the skin's
// controls named FEED_* and NEWS_*. Runs on the window thread with a copy of the feed.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "patcher/app/feed_document.h"

namespace sv {

class SkinDefinition;
struct ControlState;

constexpr uint32_t kFeedBusyColor = 0xFFE8C878;
constexpr uint32_t kFeedOffColor = 0xFFB4AEA6;

// Slot name ("NEWS_BANNER", "NEWS_1" ...) -> the link its buttons open.
using FeedSlotLinks = std::map<std::string, std::wstring>;

// `states` runs parallel to skin.controls. A slot's link is replaced or dropped on every call.
void ApplyFeed(const FeedData& feed, const SkinDefinition& skin, std::vector<ControlState>& states,
               FeedSlotLinks& linksOut);

// The colour of a news tag by the entry's type (exact words); 0 for none of its own.
uint32_t FeedTagColor(std::wstring_view type);

// The link of the first slot whose name the button's name contains, or null.
const std::wstring* FeedLinkForButton(const FeedSlotLinks& links, std::string_view buttonName);

}  // namespace sv
