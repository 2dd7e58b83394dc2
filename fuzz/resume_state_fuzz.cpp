// Reads arbitrary bytes as a download's resume state; the file's expected CRC and size come from
// the first twelve bytes. A state that is taken has one flag per segment, segments that add up to
// the remote size, and survives being written and read again unchanged.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "patcher/engine/resume_state.h"

using sv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  uint32_t crc = 0;
  uint64_t fileSize = 0;
  std::memcpy(&crc, data, 4);
  std::memcpy(&fileSize, data + 4, 8);
  fileSize &= (uint64_t(1) << 47) - 1;
  const std::string_view text = sv::fuzz::Bytes(data + 12, size - 12);

  sv::ResumeState state;
  if (!sv::ParseResumeState(text, crc, fileSize, state)) return 0;
  Check(state.crc == crc && state.size == fileSize && state.segmentSize > 0);
  uint64_t total = 0;
  for (size_t i = 0; i < state.partDone.size(); ++i) {
    const uint64_t length = sv::SegmentLength(state.remoteSize, state.segmentSize, i);
    Check(length > 0 && length <= state.segmentSize);
    total += length;
  }
  Check(total == state.remoteSize);

  const std::string written = sv::FormatResumeState(state);
  sv::ResumeState again;
  Check(sv::ParseResumeState(written, crc, fileSize, again));
  Check(again.remoteSize == state.remoteSize && again.segmentSize == state.segmentSize &&
        again.partDone == state.partDone);
  Check(sv::FormatResumeState(again) == written);
  return 0;
}
