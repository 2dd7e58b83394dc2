#include "patcher/engine/resume_state.h"

#include <cinttypes>
#include <cstdio>

#include "common/crc32.h"
#include "patcher/engine/download_plan.h"

namespace sv {

namespace {

std::vector<std::string_view> SplitFields(std::string_view text) {
  std::vector<std::string_view> fields;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t start = text.find_first_not_of(" \t\r\n", pos);
    if (start == std::string_view::npos) break;
    size_t end = text.find_first_of(" \t\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    fields.push_back(text.substr(start, end - start));
    pos = end;
  }
  return fields;
}

bool ParseDecimal(std::string_view digits, uint64_t& valueOut) {
  if (digits.empty() || digits.size() > 19) return false;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + uint64_t(c - '0');
  }
  valueOut = value;
  return true;
}

}  // namespace

bool ParseResumeState(std::string_view text, uint32_t expectedCrc, uint64_t expectedSize,
                      ResumeState& stateOut) {
  const std::vector<std::string_view> fields = SplitFields(text);
  if (fields.size() != 6 || fields[0] != "SVS1") return false;
  ResumeState state;
  if (!ParseHex32(fields[1], state.crc) || state.crc != expectedCrc) return false;
  if (!ParseDecimal(fields[2], state.size) || state.size != expectedSize) return false;
  if (!ParseDecimal(fields[3], state.remoteSize) || state.remoteSize == 0) return false;
  if (!ParseDecimal(fields[4], state.segmentSize) || state.segmentSize == 0) return false;
  if (state.remoteSize > MaxLzStreamSize(expectedSize)) return false;
  const uint64_t count = (state.remoteSize - 1) / state.segmentSize + 1;
  if (count != fields[5].size()) return false;
  state.partDone.resize(fields[5].size());
  for (size_t i = 0; i < fields[5].size(); ++i) state.partDone[i] = fields[5][i] == '1';
  stateOut = std::move(state);
  return true;
}

std::string FormatResumeState(const ResumeState& state) {
  char head[128];
  snprintf(head, sizeof head, "SVS1 %08x %" PRIu64 " %" PRIu64 " %" PRIu64 " ",
           unsigned(state.crc), state.size, state.remoteSize, state.segmentSize);
  std::string text = head;
  for (uint8_t done : state.partDone) text += done ? '1' : '0';
  return text;
}

uint64_t SegmentLength(uint64_t remoteSize, uint64_t segmentSize, size_t index) {
  const uint64_t first = uint64_t(index) * segmentSize;
  if (first >= remoteSize) return 0;
  const uint64_t left = remoteSize - first;
  return left < segmentSize ? left : segmentSize;
}

}  // namespace sv
