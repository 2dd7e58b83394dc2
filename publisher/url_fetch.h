#pragma once
// HTTP GET for verifying a published release: libcurl on the host build, the patcher's own HTTP
// client on Windows.
#include <cstddef>
#include <filesystem>
#include <string>

namespace sv {

struct UrlFetchResult {
  bool ok = false;
  long status = 0;      // HTTP status, 0 when no response came
  std::string error;    // UTF-8, empty on success
};

// The whole body into `bodyOut`; more than `limit` bytes fails.
UrlFetchResult FetchUrlToMemory(const std::string& url, size_t limit, std::string& bodyOut);
// The body into the file `target` (created or replaced).
UrlFetchResult FetchUrlToFile(const std::string& url, const std::filesystem::path& target);

}  // namespace sv
