#pragma once
// A local file cut into chunks with every chunk's SHA-256, as a patcher matches its own files
// against a chunk index. The cut points come at a few GB/s; the hashes cost about three times
// as much, so they are spread over the processors a batch of chunks at a time.
#include <cstdint>
#include <functional>

#include "release/chunker.h"
#include "release/sha256.h"

namespace sv {

using HashedChunkVisit =
    std::function<bool(const Sha256Digest& digest, uint32_t size, uint64_t offset)>;

// Cuts what `read` delivers as ChunkStream does and hands each chunk's hash, size and offset to
// `visit` in file order, hashing on up to `threads` threads (the caller's among them). False when
// reading failed or `visit` returned false.
bool HashedChunkStream(const ChunkRead& read, const HashedChunkVisit& visit, unsigned threads);

}  // namespace sv
