#pragma once
// What the main window shows for an update run: the status snapshot mapped onto the skin's named
// controls, the lazy-redraw bookkeeping, the hit test and the button actions. No window here, so
// every rule also runs in the sanitizer build.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "patcher/engine/update_engine.h"
#include "skin/renderer.h"
#include "skin/skin_definition.h"

namespace sv {

constexpr wchar_t kVersionText[] = L"v1.0.0";
constexpr wchar_t kTextSeparator[] = L"  \u2022  ";

// Phase 3 with a speed: the speed, and the remaining time when there is one; else empty.
std::wstring SpeedAndRemainingText(const StatusSnapshot& status, const LocaleTable& locale);
// The game may be started after a finished run, and after a failed one when the skin allows it.
bool StartEnabledFor(int32_t phase, bool allowStartOnError);
// START and the buttons marked to wait for the update.
bool WaitsForUpdate(const SkinControl& control);
// REPAIR starts a run of its own, so it waits until the current one has ended, well or not.
bool IsRepairButton(const SkinControl& control);
bool RepairEnabledFor(int32_t phase);

// The states a window starts with: those buttons disabled, the feed's status dots hidden.
std::vector<ControlState> InitialControlStates(const SkinDefinition& skin);
// Writes the snapshot's texts, gauges and start state into `states` (one per skin control).
// Returns the start-enabled value; a button that loses its enabled state also loses its press.
bool ApplyStatus(const SkinDefinition& skin, const StatusSnapshot& status,
                 std::vector<ControlState>& states);
// FEED_ texts are shown only while they have a text of their own (the feed display sets them).
void ApplyFeedTextVisibility(const SkinDefinition& skin, std::vector<ControlState>& states);

// Keeps redraws lazy: a snapshot is applied only when its change counter moved, and the frame is
// drawn only when something marked it dirty since the last draw.
class RedrawTracker {
public:
  // True when the snapshot differs from the last one taken (it is then the one to apply).
  bool Changed(const StatusSnapshot& status);
  void MarkDirty() { dirty_ = true; }
  // True once per marking: the caller draws now.
  bool TakeDirty();

private:
  bool hasCounter_ = false;
  uint32_t counter_ = 0;
  bool dirty_ = true;  // the first tick draws the window
};

// The index of the topmost visible button under the point (skin order searched backwards), or -1.
int32_t HitButton(const SkinDefinition& skin, const std::vector<ControlState>& states, int32_t x,
                  int32_t y);

enum class ButtonActionKind { None, Close, Minimize, StartGame, Repair, OpenNewsLink, RunProgram,
                              RunOptions, OpenLink };
struct ButtonAction {
  ButtonActionKind kind = ButtonActionKind::None;
  std::wstring argument;  // the link or the program's relative path
};
// What a click on the button does, by its name, in a fixed order: close, minimise, start, repair,
// a news slot's link (slot name -> link, from the feed display), its own program, the options
// program, its own link.
ButtonAction ChooseButtonAction(const SkinControl& button,
                                const std::map<std::string, std::wstring>& newsLinks);

// Only web addresses are handed to the shell; anything else (ftp:, file:, programs) is refused.
bool IsOpenableLink(const std::wstring& url);

}  // namespace sv
