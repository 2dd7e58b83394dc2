#include "patcher/app/window_status.h"

#include "common/text.h"

namespace sv {

namespace {

bool Busy(int32_t phase) { return phase == kPhaseChecking || phase == kPhaseDownloading; }

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

void SetText(ControlState& state, std::wstring text) {
  state.hasTextOverride = true;
  state.textOverride = std::move(text);
}

}  // namespace

std::wstring SpeedAndRemainingText(const StatusSnapshot& status, const LocaleTable& locale) {
  if (status.phase != kPhaseDownloading || status.speedText.empty()) return {};
  std::wstring text = status.speedText;
  if (!status.remainingText.empty()) {
    text += kTextSeparator;
    text += locale.format("SV_REMAINING", {status.remainingText});
  }
  return text;
}

bool StartEnabledFor(int32_t phase, bool allowStartOnError) {
  return phase == kPhaseFinished || (phase == kPhaseFailed && allowStartOnError);
}

bool WaitsForUpdate(const SkinControl& control) {
  return control.kind == ControlKind::Button && (control.id == "START" || control.enableOnComplete);
}

bool IsRepairButton(const SkinControl& control) {
  return control.kind == ControlKind::Button && control.id == "REPAIR";
}

bool RepairEnabledFor(int32_t phase) { return phase == kPhaseFinished || phase == kPhaseFailed; }

std::vector<ControlState> InitialControlStates(const SkinDefinition& skin) {
  std::vector<ControlState> states(skin.controls.size());
  for (size_t i = 0; i < skin.controls.size(); ++i) {
    const SkinControl& c = skin.controls[i];
    if (WaitsForUpdate(c) || IsRepairButton(c)) states[i].enabled = false;
    if (c.kind == ControlKind::Picture && StartsWith(c.id, "FEED_DOT_")) states[i].visible = false;
    if (c.kind == ControlKind::Text && c.id == "TEXT_VERSION") SetText(states[i], kVersionText);
  }
  ApplyFeedTextVisibility(skin, states);
  return states;
}

void ApplyFeedTextVisibility(const SkinDefinition& skin, std::vector<ControlState>& states) {
  for (size_t i = 0; i < skin.controls.size() && i < states.size(); ++i) {
    const SkinControl& c = skin.controls[i];
    if (c.kind != ControlKind::Text || !StartsWith(c.id, "FEED_")) continue;
    states[i].visible = states[i].hasTextOverride && !states[i].textOverride.empty();
  }
}

bool ApplyStatus(const SkinDefinition& skin, const StatusSnapshot& status,
                 std::vector<ControlState>& states) {
  const int32_t phase = status.phase;
  const bool busy = Busy(phase);
  // A repair's check headline holds its own percentage ("... %42").
  const bool headlinePercent = busy && !(status.repair && phase == kPhaseChecking);
  const bool downloading = phase == kPhaseDownloading;
  const std::wstring percent = formatPercent(status.overall);
  const std::wstring speedAndRemaining = SpeedAndRemainingText(status, skin.locale);
  const bool hasSub = skin.findControl("TEXT_SUB") != nullptr;
  const bool hasSpeed = skin.findControl("TEXT_DNSPEED") != nullptr;
  const bool startEnabled = StartEnabledFor(phase, skin.settings.allowStartOnError);

  states.resize(skin.controls.size());
  for (size_t i = 0; i < skin.controls.size(); ++i) {
    const SkinControl& c = skin.controls[i];
    ControlState& state = states[i];
    if (c.kind == ControlKind::Gauge) {
      state.progress = c.id == "PROGRESS_SUB" ? status.current : status.overall;
      continue;
    }
    if (IsRepairButton(c) || WaitsForUpdate(c)) {
      state.enabled = IsRepairButton(c) ? RepairEnabledFor(phase) : startEnabled;
      if (!state.enabled) state.pressed = false;
      continue;
    }
    if (c.kind != ControlKind::Text) continue;
    const std::string& id = c.id;
    if (id == "TEXT_MAIN") {
      SetText(state, headlinePercent ? status.statusText + L"  " + percent : status.statusText);
    } else if (id == "TEXT_SUB") {
      SetText(state, status.currentText);
    } else if (id == "TEXT_TORRENT") {
      std::wstring text = hasSub ? std::wstring() : status.currentText;
      if (!hasSpeed && !speedAndRemaining.empty()) {
        if (!text.empty()) text += kTextSeparator;
        text += speedAndRemaining;
      }
      SetText(state, std::move(text));
    } else if (id == "TEXT_DNSPEED") {
      SetText(state, downloading && !status.speedText.empty()
                         ? skin.locale.text("TORRENT_DOWNLOAD_SPEED") + L" " + status.speedText
                         : std::wstring());
    } else if (id == "TEXT_PERCENT") {
      SetText(state, busy || phase == kPhaseFinished ? percent : std::wstring());
    } else if (id == "TEXT_TOTAL" || id == "TEXT_SIZE") {
      SetText(state, downloading ? status.amountText : std::wstring());
    } else if (id == "TEXT_SPEED") {
      SetText(state, downloading ? status.speedText : std::wstring());
    } else if (id == "TEXT_ETA") {
      SetText(state, downloading && !status.remainingText.empty()
                         ? skin.locale.format("SV_REMAINING", {status.remainingText})
                         : std::wstring());
    } else if (id == "TEXT_VERSION") {
      SetText(state, kVersionText);
    }
  }
  ApplyFeedTextVisibility(skin, states);
  return startEnabled;
}

bool RedrawTracker::Changed(const StatusSnapshot& status) {
  if (hasCounter_ && status.changeCounter == counter_) return false;
  hasCounter_ = true;
  counter_ = status.changeCounter;
  return true;
}

bool RedrawTracker::TakeDirty() {
  const bool was = dirty_;
  dirty_ = false;
  return was;
}

int32_t HitButton(const SkinDefinition& skin, const std::vector<ControlState>& states, int32_t x,
                  int32_t y) {
  for (size_t i = skin.controls.size(); i-- > 0;) {
    const SkinControl& c = skin.controls[i];
    if (c.kind != ControlKind::Button) continue;
    if (i < states.size() && !states[i].visible) continue;
    if (hitTest(c, x, y)) return int32_t(i);
  }
  return -1;
}

ButtonAction ChooseButtonAction(const SkinControl& button,
                                const std::map<std::string, std::wstring>& newsLinks) {
  const std::string& id = button.id;
  if (id == "EXIT" || id == "QUIT" || id == "CLOSE") return {ButtonActionKind::Close, {}};
  if (id == "MINIMIZE") return {ButtonActionKind::Minimize, {}};
  if (id == "START") return {ButtonActionKind::StartGame, {}};
  if (id == "REPAIR") return {ButtonActionKind::Repair, {}};
  for (const auto& [slot, link] : newsLinks) {
    if (!slot.empty() && !link.empty() && id.find(slot) != std::string::npos) {
      return {ButtonActionKind::OpenNewsLink, link};
    }
  }
  if (!button.execPath.empty()) return {ButtonActionKind::RunProgram, button.execPath};
  if (id == "OPTION") return {ButtonActionKind::RunOptions, L"config.exe"};
  if (!button.link.empty()) return {ButtonActionKind::OpenLink, button.link};
  return {};
}

bool IsOpenableLink(const std::wstring& url) {
  const std::wstring lower = toLowerWide(url.substr(0, 8));
  return lower.rfind(L"http://", 0) == 0 || lower.rfind(L"https://", 0) == 0;
}

}  // namespace sv
