// Inflates arbitrary bytes with and without an expected size: a success must have produced
// exactly the expected size, a failure an empty output and a message.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "builder/inflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string out;
  std::wstring error;
  if (sv::Inflate(data, size, out, 0, &error, 1u << 22)) {
    std::string again;
    if (!sv::Inflate(data, size, again, out.size() ? out.size() : 0, &error) || again != out) std::abort();
  } else if (!out.empty() || error.empty()) {
    std::abort();
  }
  return 0;
}
