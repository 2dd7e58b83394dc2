#pragma once
// A file's chunk index: the file's size, CRC-32 and SHA-256, the packs that hold its chunks, and
// every chunk in file order with its SHA-256, its length, and where its stored bytes lie. It is an
// immutable object named by its own SHA-256, as are the packs: a pack is the stored chunks one
// build added, back to back, each LZO1X-compressed when that made it shorter, raw otherwise (its
// stored length then equals its length). docs/chunked-releases.md describes the bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "release/release_manifest.h"
#include "release/sha256.h"

namespace sv {

struct ChunkRef {
  Sha256Digest digest{};
  uint32_t size = 0;        // the chunk's own length
  uint32_t pack = 0;        // into ChunkIndex::packs
  uint64_t offset = 0;      // of its stored bytes in that pack
  uint32_t storedSize = 0;  // == size: raw; below: LZO1X
  bool Compressed() const { return storedSize < size; }
};

struct ChunkIndex {
  uint64_t fileSize = 0;
  uint32_t fileCrc = 0;
  Sha256Digest fileDigest{};
  std::vector<ReleaseObject> packs;
  std::vector<ChunkRef> chunks;
};

std::string FormatChunkIndex(const ChunkIndex& index);
// False with the offset and reason when the bytes are not an index of this format, or when the
// chunks do not add up to the file or lie outside their packs.
bool ParseChunkIndex(std::string_view bytes, ChunkIndex& indexOut, std::string& errorOut);

// Object names below the chunk store: "<sha256>.pack" and "<sha256>.index".
std::string PackObjectName(const Sha256Digest& digest);
std::string IndexObjectName(const Sha256Digest& digest);

}  // namespace sv
