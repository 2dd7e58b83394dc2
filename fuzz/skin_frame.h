#pragma once
// Composes and lays out one frame of a loaded skin with varied control states (progress outside
// 0..1 included), so that the drawing rules meet whatever the skin holds.
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "skin/renderer.h"

namespace sv::fuzz {

inline void DrawFrame(const SkinDefinition& skin, bool layered) {
  Check(skin.background && skin.width == skin.background->width &&
        skin.height == skin.background->height);
  std::vector<ControlState> states(skin.controls.size());
  for (size_t i = 0; i < states.size(); ++i) {
    states[i].progress = float(i % 4) * 0.5f - 0.25f;
    states[i].enabled = i % 2 == 0;
    states[i].hovered = states[i].pressed = i % 3 == 0;
  }
  std::vector<uint32_t> frame(size_t(skin.width) * size_t(skin.height));
  composeImages(frame.data(), skin, states, true);
  layoutTexts(skin, states, layered);
}

}  // namespace sv::fuzz
