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

// The journal beside the manifest records, line by line while a build runs, each .lz it is about
// to replace ("-") and each one it has replaced ("+" with the new record), so a build stopped at
// any moment (a signal included) leaves a record that never vouches for a .lz it did not write.
constexpr char kJournalName[] = "sarvikpublish.journal";
std::string FormatJournalReplacing(const std::string& path);
std::string FormatJournalReplaced(const std::string& path, const ManifestEntry& entry);
// Applies the journal's complete lines to `manifest`. A path about to be replaced stays in it
// (its .lz may have to be removed) but is never kept: its .lz size reads as unknown.
void ApplyJournal(std::string_view text, Manifest& manifest);
constexpr uint64_t kUnknownLzSize = ~uint64_t(0);

}  // namespace sv
