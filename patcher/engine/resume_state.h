#pragma once
// The resume state of one download (".state"): which segments of the ".part" file are stored.
// One ASCII line: "SVS1 <crc %08x> <size> <remote size> <segment size> <flags>".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

struct ResumeState {
  uint32_t crc = 0;            // of the finished file
  uint64_t size = 0;           // of the finished file
  uint64_t remoteSize = 0;     // of the ".lz" resource
  uint64_t segmentSize = 0;
  std::vector<uint8_t> partDone;  // one flag per segment
};

// True only for a state that belongs to a file with this CRC and size and is consistent in
// itself; a remote size larger than any ".lz" of `size` bytes can be is refused too.
bool ParseResumeState(std::string_view text, uint32_t expectedCrc, uint64_t expectedSize,
                      ResumeState& stateOut);
std::string FormatResumeState(const ResumeState& state);

// Bytes of segment `index` (the last one may be short).
uint64_t SegmentLength(uint64_t remoteSize, uint64_t segmentSize, size_t index);

}  // namespace sv
