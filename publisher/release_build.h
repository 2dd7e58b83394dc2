#pragma once
// `SarvikPublish build`: turns a game client folder into a release folder the patcher downloads
// from. Nothing is written before every path has passed the checks; each ".lz" is written under a
// temporary name and renamed; the file list and the configuration come last, so a server never
// serves a list that names files that are not there yet. A versioned build never touches the
// files of a version a patcher may be reading.
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include <optional>

#include "publisher/lzo_compress.h"
#include "publisher/release_signing.h"

namespace sv {

struct BuildOptions {
  std::filesystem::path client;
  std::filesystem::path out;
  std::string baseUrl;                 // empty: no configuration skeleton
  std::vector<std::string> excludes;
  int level = kLzoDefaultLevel;
  bool showProgress = false;
  unsigned jobs = 0;                   // compressing threads; 0: one per processor core
  // Each build into a folder of its own, OUT/<version>/, named by the configuration's crcversion
  // once it is complete; the `keep` newest are kept.
  bool versioned = false;
  std::string version;                 // empty: made from the time
  size_t keep = 3;
  // Files no longer in the client stay on players' disks (else the list tells patchers to delete
  // the copies they installed).
  bool keepRemoved = false;
  // With a key: every list line names its ".lz" by SHA-256 and a signed manifest is written.
  std::optional<SigningOptions> signing;
  // Large files also go into the shared chunk store, so patchers fetch only changed chunks.
  bool chunks = false;
  // Versioned builds: non-empty (a UTC time, "2026-12-24T18:00:00Z") publishes the version with
  // its own configuration in its folder and leaves the live configuration on the current
  // version, announcing this one (sv_next) to go live at that time.
  std::string stageAt;
};

struct BuildSummary {
  size_t files = 0;
  size_t written = 0;     // .lz files compressed in this run
  size_t kept = 0;        // unchanged since the last run
  size_t removed = 0;     // .lz files of files no longer in the client
  uint64_t bytes = 0;
  uint64_t lzBytes = 0;
  // Versioned builds: the new version, unchanged .lz files taken from the one before it, and
  // the old versions removed.
  std::string version;
  size_t linked = 0;
  size_t copied = 0;
  size_t versionsRemoved = 0;
  size_t chunked = 0;          // files with a chunk index
  size_t chunkedCut = 0;       // of them cut in this build
  size_t chunkObjectsRemoved = 0;
  // Files whose bytes differ from the last build (all of them in a first build), and the size of
  // their .lz files: what a player who had the last release downloads.
  size_t changedFiles = 0;
  uint64_t changedLzBytes = 0;
};

// Reports to `out`, problems to `err`; false when the release was not (completely) written.
bool BuildRelease(const BuildOptions& options, BuildSummary& summary, std::ostream& out,
                  std::ostream& err);

// `SarvikPublish promote`: the live configuration names `version` (a published version below
// `out`) and announces no next release any more; signed again when `signing` is given.
bool PromoteRelease(const std::filesystem::path& out, const std::string& version,
                    const std::optional<SigningOptions>& signing, std::ostream& report,
                    std::ostream& err);

}  // namespace sv
