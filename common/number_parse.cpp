#include "common/text.h"

namespace sv {

namespace {
// Values read from settings and server files are bounded well below 64 bits; a magnitude this
// large is treated as malformed rather than clamped.
constexpr uint64_t kMagnitudeLimit = uint64_t(1) << 47;
constexpr int64_t kInt32Limit = 2147483647;
}  // namespace

bool parseInt64(std::string_view text, int64_t& out) {
  const std::string t = trim(text);
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) {
    negative = t[i] == '-';
    ++i;
  }
  if (i == t.size()) return false;
  uint64_t magnitude = 0;
  for (; i < t.size(); ++i) {
    if (t[i] < '0' || t[i] > '9') return false;
    magnitude = magnitude * 10 + uint64_t(t[i] - '0');
    if (magnitude >= kMagnitudeLimit) return false;
  }
  out = negative ? -int64_t(magnitude) : int64_t(magnitude);
  return true;
}

int32_t parseInt32(std::string_view text, int32_t defaultValue) {
  int64_t value = 0;
  if (!parseInt64(text, value) || value > kInt32Limit || value < -kInt32Limit) return defaultValue;
  return int32_t(value);
}

bool parseBool(std::string_view text, bool defaultValue) {
  const std::string t = toLowerAscii(trim(text));
  for (const char* yes : {"1", "true", "yes", "evet", "on"}) {
    if (t == yes) return true;
  }
  for (const char* no : {"0", "false", "no", "hayir", "off"}) {
    if (t == no) return false;
  }
  return defaultValue;
}

}  // namespace sv
