// Reads arbitrary bytes as the remote configuration: a failure leaves the caller's configuration
// untouched and says why; a success names at least one source, each a folder URL ending in '/'
// and none twice, and keeps the notice size inside the window limits.
#include <algorithm>
#include <cstdint>

#include "fuzz/fuzz_check.h"
#include "patcher/engine/remote_config.h"

using sv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  sv::RemoteConfig config;
  config.runPath = L"untouched";
  std::wstring error;
  const bool ok = sv::ParseRemoteConfig(sv::fuzz::Bytes(data, size),
                                        L"http://127.0.0.1:8080/patch/draskeltorrent.config.xml?1",
                                        L"no download url", config, error);
  if (!ok) {
    Check(!error.empty() && !config.loaded && config.runPath == L"untouched" &&
          config.sources.empty());
    return 0;
  }
  Check(config.loaded && !config.sources.empty());
  for (size_t i = 0; i < config.sources.size(); ++i) {
    Check(!config.sources[i].empty() && config.sources[i].back() == L'/');
    Check(std::find(config.sources.begin() + long(i) + 1, config.sources.end(), config.sources[i]) ==
          config.sources.end());
  }
  Check(config.noticeWidth >= 200 && config.noticeWidth <= 4000);
  Check(config.noticeHeight >= 150 && config.noticeHeight <= 3000);
  return 0;
}
