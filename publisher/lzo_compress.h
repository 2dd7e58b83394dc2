#pragma once
// Our LZO1X compressor: writes ".lz" files (a 4-byte little-endian length, then an LZO1X stream
// ending in the end-of-stream instruction) that the patcher's decoder, and any LZO1X decoder,
// accepts. Input is read in pieces, so memory stays bounded whatever the file size.
//
// Levels: 1 is a single-probe hash compressor for speed; 2 to 9 parse with a binary-tree match
// finder and a cost model of the LZO1X instruction set, searching deeper as the level rises.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "release/lz_stream.h"

namespace sv {

constexpr int kLzoFastLevel = 1;
constexpr int kLzoBestLevel = 9;
constexpr int kLzoDefaultLevel = 9;
// The ".lz" header holds the length in 32 bits.
constexpr uint64_t kLzMaxInputSize = 0xFFFFFFFFull;

// Random-access input: the compressor reads forward in pieces and now and then reads back the
// start of a long run of literals that has left its window.
class LzoInput {
 public:
  virtual ~LzoInput() = default;
  // Reads exactly `size` bytes at `offset`; false on any shortfall or error.
  virtual bool ReadAt(uint64_t offset, void* buffer, size_t size) = 0;
  // The whole input when it already lies in memory (then nothing is copied); else null.
  virtual const uint8_t* WholeData() const { return nullptr; }
};

class MemoryInput : public LzoInput {
 public:
  MemoryInput(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override;
  const uint8_t* WholeData() const override { return data_; }

 private:
  const uint8_t* data_;
  size_t size_;
};

// Called after every piece of input with the bytes consumed so far.
using LzProgressFn = void (*)(void* context, uint64_t done);

struct LzCompressResult {
  bool ok = false;
  uint32_t crc = 0;         // CRC-32 of the input
  uint64_t outSize = 0;     // bytes written, header included
  std::wstring errorText;
};

// Compresses `size` bytes of `input` into a whole ".lz" stream.
LzCompressResult LzCompress(LzoInput& input, uint64_t size, LzWriter& output, int level,
                            LzProgressFn progress = nullptr, void* progressContext = nullptr);
// The same for a buffer, into memory.
bool LzCompressToMemory(const void* data, size_t size, std::vector<uint8_t>& out, int level);
// A bare LZO1X stream without the length header (for comparing with other LZO1X compressors):
// returns its length, the stream being the first bytes of `out`, which only ever grows.
size_t LzoCompressRaw(const void* data, size_t size, int level, std::vector<uint8_t>& out);

}  // namespace sv
