#pragma once
// The two match searches behind the compression levels. Both work on the window the compressor
// slides over the input and hand sequences to an LzoOutput.
#include <cstdint>
#include <memory>

#include "publisher/lzo_output.h"

namespace sv {

class LzoMatcher {
 public:
  virtual ~LzoMatcher() = default;
  // Compresses from the cursor up to `end` (absolute position). Matches may read on to the end
  // of the window's data. With `last`, `end` is the end of the input and the cursor stops short
  // of it only by the few bytes too short to start a match.
  virtual void Run(const LzoWindow& w, uint64_t end, bool last, LzoOutput& out) = 0;

  // Takes the window's bytes before `pos` as history that matches may reach into, without
  // writing them, and starts there.
  virtual void StartAt(const LzoWindow& w, uint64_t pos) {
    (void)w;
    anchor = cursor = pos;
  }

  uint64_t anchor = 0;   // first input byte not yet written (start of the pending literals)
  uint64_t cursor = 0;   // next position to search
};

std::unique_ptr<LzoMatcher> MakeLzoMatcher(int level);

}  // namespace sv
