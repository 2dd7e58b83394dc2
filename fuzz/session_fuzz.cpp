// Reads arbitrary bytes as the builder's session file: keys never hold a line break, an '=' or a
// leading ';', and the lines written back from what was read read back as the same session.
#include <cstdint>
#include <map>
#include <string>

#include "builder/session.h"
#include "fuzz/fuzz_check.h"

using sv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto values = sv::ParseSessionText(sv::fuzz::Bytes(data, size));
  std::string written;
  for (const auto& [key, value] : values) {
    Check(key.find('\n') == std::string::npos && key.find('=') == std::string::npos);
    Check(value.find('\n') == std::string::npos);
    if (!key.empty()) Check(key.front() != ';');
    written += key + "=" + value + "\r\n";
  }
  Check(sv::ParseSessionText(written) == values);
  sv::BuilderSession session{values};
  for (const auto& [key, value] : values) Check(session.has(key));
  return 0;
}
