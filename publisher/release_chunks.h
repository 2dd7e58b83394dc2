#pragma once
// The chunked side of a build: every listed file of at least kChunkedFileThreshold bytes goes
// into the chunk store below the output folder, and the release gets its chunk list.
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <vector>

#include "publisher/release_files.h"

namespace sv {

struct ChunkedBuild {
  size_t files = 0;        // with a chunk index
  size_t cut = 0;          // of them cut in this build (the rest kept their index)
  ReleaseObject list;      // the chunk list written
};

// `sources[i]` is the client file of `listed[i]`, `lzSizes[i]` its ".lz" size. `release` is the
// folder the list goes into: `out` itself or one of its versions.
bool PublishChunks(const std::filesystem::path& out, const std::filesystem::path& release,
                   const std::vector<std::filesystem::path>& sources,
                   const std::vector<ListedFile>& listed, const std::vector<uint64_t>& lzSizes,
                   int level, unsigned jobs, ChunkedBuild& summary, std::ostream& err);

}  // namespace sv
