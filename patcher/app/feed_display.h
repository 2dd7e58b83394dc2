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

// Slot name ("NEWS_BANNER", "NEWS_1" ...) -> the link its buttons open (a button opens the
// link of a slot whose name its own name contains).
using FeedSlotLinks = std::map<std::string, std::wstring>;

// `states` runs parallel to skin.controls. A slot's link is replaced or dropped on every call.
void ApplyFeed(const FeedData& feed, const SkinDefinition& skin, std::vector<ControlState>& states,
               FeedSlotLinks& linksOut);

// The colour of a news tag by the entry's type (exact words); 0 for none of its own.
uint32_t FeedTagColor(std::wstring_view type);

}  // namespace sv
