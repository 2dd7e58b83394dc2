#include "patcher/app/feed_display.h"

#include "skin/renderer.h"
#include "skin/skin_definition.h"

namespace sv {

namespace {

constexpr char kDotOn[] = "FEED_DOT_ON";
constexpr char kDotBusy[] = "FEED_DOT_BUSY";
constexpr char kDotOff[] = "FEED_DOT_OFF";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

class ControlWriter {
 public:
  ControlWriter(const SkinDefinition& skin, std::vector<ControlState>& states)
      : skin_(skin), states_(states) {
    if (states_.size() < skin_.controls.size()) states_.resize(skin_.controls.size());
  }

  // Every control of that name (a skin may repeat an id) gets the text; feed texts are shown
  // only while they are not empty.
  void SetText(std::string_view id, const std::wstring& text) {
    ForEach(id, [&](const SkinControl& control, ControlState& state) {
      state.hasTextOverride = true;
      state.textOverride = text;
      if (control.kind == ControlKind::Text) state.visible = !text.empty();
    });
  }
  void SetColor(std::string_view id, uint32_t argb) {
    ForEach(id, [&](const SkinControl&, ControlState& state) {
      state.hasColorOverride = argb != 0;
      state.colorOverride = argb;
    });
  }
  void SetVisible(std::string_view id, bool visible) {
    ForEach(id, [&](const SkinControl&, ControlState& state) { state.visible = visible; });
  }
  void ShowOnlyDot(std::string_view dot) {
    for (size_t i = 0; i < skin_.controls.size(); ++i) {
      const SkinControl& control = skin_.controls[i];
      if (control.kind == ControlKind::Picture && StartsWith(control.id, "FEED_DOT_")) {
        states_[i].visible = control.id == dot;
      }
    }
  }

 private:
  template <typename F>
  void ForEach(std::string_view id, F&& apply) {
    for (size_t i = 0; i < skin_.controls.size(); ++i) {
      if (skin_.controls[i].id == id) apply(skin_.controls[i], states_[i]);
    }
  }

  const SkinDefinition& skin_;
  std::vector<ControlState>& states_;
};

void ApplySlot(ControlWriter& writer, const std::string& prefix, const std::string& slot,
               const FeedItem* item, bool colourByType, const std::wstring& feedLink,
               FeedSlotLinks& links) {
  static const FeedItem kNone;
  const FeedItem& entry = item ? *item : kNone;
  writer.SetText(prefix + "_TAG", entry.tag);
  writer.SetText(prefix + "_DATE", entry.date);
  writer.SetText(prefix + "_TITLE", entry.title);
  writer.SetColor(prefix + "_TAG", colourByType ? FeedTagColor(entry.type) : 0);
  const std::wstring link = !item ? std::wstring() : entry.link.empty() ? feedLink : entry.link;
  if (link.empty()) {
    links.erase(slot);
  } else {
    links[slot] = link;
  }
}

}  // namespace

uint32_t FeedTagColor(std::wstring_view type) {
  if (type == L"guncelleme") return 0xFFE8B460;
  if (type == L"duyuru") return 0xFFD4C08A;
  if (type == L"etkinlik") return 0xFFF08A5A;
  if (type == L"bilgilendirme") return 0xFF8FC4DC;
  return 0;
}

void ApplyFeed(const FeedData& feed, const SkinDefinition& skin, std::vector<ControlState>& states,
               FeedSlotLinks& linksOut) {
  ControlWriter writer(skin, states);
  std::wstring statusText, playerText;
  const char* dot = kDotOff;
  if (!feed.hasData) {
    statusText = skin.text("SV_FEED_NO_DATA");
  } else if (feed.status == L"online") {
    statusText = skin.text("SV_FEED_ONLINE");
    dot = kDotOn;
    if (feed.players >= 0) playerText = skin.format("SV_FEED_PLAYERS", {GroupThousands(feed.players)});
  } else if (feed.status == L"maintenance") {
    statusText = skin.text("SV_FEED_MAINTENANCE");
    dot = kDotBusy;
  } else {
    statusText = skin.text("SV_FEED_OFFLINE");
  }
  writer.SetText("FEED_STATUS", statusText);
  writer.SetText("FEED_ONLINE", playerText);
  writer.ShowOnlyDot(dot);
  // Online keeps the skin's own colour.
  writer.SetColor("FEED_STATUS", dot == kDotOn ? 0 : dot == kDotBusy ? kFeedBusyColor : kFeedOffColor);

  if (!feed.hasData) return;
  ApplySlot(writer, "FEED_BANNER", "NEWS_BANNER", feed.hasBanner ? &feed.banner : nullptr, false,
            feed.link, linksOut);
  for (size_t n = 1; n <= kFeedMaxItems; ++n) {
    const FeedItem* item = n <= feed.items.size() ? &feed.items[n - 1] : nullptr;
    const std::string slot = "NEWS_" + std::to_string(n);
    ApplySlot(writer, "FEED_" + std::to_string(n), slot, item, true, feed.link, linksOut);
    writer.SetVisible(slot, item != nullptr);
  }
}

}  // namespace sv
