#pragma once
// The release tool's record of what it last published into an output folder, so that a rebuild
// compresses only files that changed.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace sv {

constexpr char kManifestName[] = "sarvikpublish.manifest";

struct ManifestEntry {
  uint32_t crc = 0;
  uint64_t size = 0;
  int64_t modified = 0;
  int level = 0;
  uint64_t lzSize = 0;
};

// By path as written in the file list.
using Manifest = std::map<std::string, ManifestEntry>;

std::string FormatManifest(const Manifest& manifest);
// False (and an empty manifest) when the text is not a manifest of this format.
bool ParseManifest(std::string_view text, Manifest& out);

}  // namespace sv
