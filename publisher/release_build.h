#pragma once
// `SarvikPublish build`: turns a game client folder into a release folder the patcher downloads
// from. Nothing is written before every path has passed the checks; each ".lz" is written under a
// temporary name and renamed; the file list and the configuration come last, so a server never
// serves a list that names files that are not there yet.
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "publisher/lzo_compress.h"

namespace sv {

struct BuildOptions {
  std::filesystem::path client;
  std::filesystem::path out;
  std::string baseUrl;                 // empty: no configuration skeleton
  std::vector<std::string> excludes;
  int level = kLzoDefaultLevel;
  bool showProgress = false;
};

struct BuildSummary {
  size_t files = 0;
  size_t written = 0;     // .lz files compressed in this run
  size_t kept = 0;        // unchanged since the last run
  size_t removed = 0;     // .lz files of files no longer in the client
  uint64_t bytes = 0;
  uint64_t lzBytes = 0;
};

// Reports to `out`, problems to `err`; false when the release was not (completely) written.
bool BuildRelease(const BuildOptions& options, BuildSummary& summary, std::ostream& out,
                  std::ostream& err);

}  // namespace sv
