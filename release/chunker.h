#pragma once
// Content-defined chunking (FastCDC: a gear rolling hash with normalised cut points, Xia et al.,
// USENIX ATC 2016). A cut depends only on the bytes just before it, so an insertion or deletion
// moves the cuts near it and leaves every later chunk as it was: any old version of a file, a
// damaged copy or a half-written one shares most of its chunks with the new one.
//
// The sizes are part of the release format: the release tool and the patcher must cut alike.
// Averages of 64, 16 and 8 KiB measured on scattered 100 KB edits fetch 2.10, 1.35 and 1.38
// times a per-version patch: around each edit about one chunk more than the edit is fetched,
// and below 16 KiB the index (52 bytes a chunk) costs more than smaller chunks save.
#include <cstddef>
#include <cstdint>
#include <functional>

namespace sv {

constexpr uint32_t kChunkMinSize = 4096;
constexpr uint32_t kChunkAverageSize = 16384;
constexpr uint32_t kChunkMaxSize = 65536;

// The length of the chunk that starts at `data`, of the `size` bytes that follow it. Give it at
// least kChunkMaxSize bytes unless the data ends sooner; the answer is then never above `size`.
size_t ChunkLength(const uint8_t* data, size_t size);

// Reads `read` to its end and hands each chunk to `visit` with its offset. `read` fills up to
// `capacity` bytes and returns how many (0 at the end), or -1 on a read error. False when reading
// failed or `visit` returned false.
using ChunkRead = std::function<long long(uint8_t* buffer, size_t capacity)>;
using ChunkVisit = std::function<bool(const uint8_t* data, size_t size, uint64_t offset)>;
bool ChunkStream(const ChunkRead& read, const ChunkVisit& visit);

}  // namespace sv
