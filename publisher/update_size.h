#pragma once
// What a patcher holding one release downloads to reach another: nothing for a file it has, the
// chunks it lacks plus the index for a chunked file it holds another version of (or the whole
// ".lz" when that is less), and the ".lz" for the rest; set against a fresh install's download.
#include <cstdint>
#include <filesystem>
#include <string>

namespace sv {

struct UpdateSize {
  uint64_t download = 0;  // bytes the update fetches
  uint64_t whole = 0;     // bytes a fresh install fetches: every ".lz"
  size_t changed = 0;     // files that differ
};

bool MeasureUpdate(const std::filesystem::path& from, const std::filesystem::path& to,
                   UpdateSize& sizeOut, std::string& errorOut);
// "a player on FROM downloads 1.2 MB of 640.0 MB (0.2%), 3 changed files"
std::string FormatUpdateSize(const std::string& from, const UpdateSize& size);

}  // namespace sv
