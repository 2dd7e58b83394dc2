#include "release/chunk_index.h"

#include <cstring>

namespace sv {

namespace {

constexpr char kMagic[8] = {'S', 'V', 'C', 'H', 'I', 'D', 'X', '1'};
constexpr size_t kHeaderSize = 8 + 8 + 4 + 32 + 4 + 4;
constexpr size_t kPackSize = 32 + 8;
constexpr size_t kChunkSize = 32 + 4 + 4 + 8 + 4;

void Put(std::string& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(char(uint8_t(value >> (8 * i))));
}

// Little-endian reads that stop at the end instead of passing it.
struct Reader {
  std::string_view bytes;
  size_t at = 0;
  bool Left(size_t n) const { return n <= bytes.size() - at; }
  uint64_t Get(int n) {
    uint64_t value = 0;
    for (int i = 0; i < n; ++i) value |= uint64_t(uint8_t(bytes[at + size_t(i)])) << (8 * i);
    at += size_t(n);
    return value;
  }
  void Digest(Sha256Digest& d) {
    std::memcpy(d.data(), bytes.data() + at, d.size());
    at += d.size();
  }
};

}  // namespace

std::string FormatChunkIndex(const ChunkIndex& index) {
  std::string out(kMagic, sizeof kMagic);
  out.reserve(kHeaderSize + index.packs.size() * kPackSize + index.chunks.size() * kChunkSize);
  Put(out, index.fileSize, 8);
  Put(out, index.fileCrc, 4);
  out.append(reinterpret_cast<const char*>(index.fileDigest.data()), 32);
  Put(out, index.packs.size(), 4);
  Put(out, index.chunks.size(), 4);
  for (const ReleaseObject& pack : index.packs) {
    out.append(reinterpret_cast<const char*>(pack.digest.data()), 32);
    Put(out, pack.size, 8);
  }
  for (const ChunkRef& c : index.chunks) {
    out.append(reinterpret_cast<const char*>(c.digest.data()), 32);
    Put(out, c.size, 4);
    Put(out, c.pack, 4);
    Put(out, c.offset, 8);
    Put(out, c.storedSize, 4);
  }
  return out;
}

bool ParseChunkIndex(std::string_view bytes, ChunkIndex& indexOut, std::string& errorOut) {
  indexOut = ChunkIndex();
  Reader r{bytes};
  auto fail = [&](const char* why) {
    errorOut = std::string(why) + " at byte " + std::to_string(r.at);
    return false;
  };
  if (!r.Left(kHeaderSize) || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    return fail("not a chunk index");
  }
  r.at = sizeof kMagic;
  indexOut.fileSize = r.Get(8);
  indexOut.fileCrc = uint32_t(r.Get(4));
  r.Digest(indexOut.fileDigest);
  const uint64_t packCount = r.Get(4);
  const uint64_t chunkCount = r.Get(4);
  // Compared with what is left, so a forged count never sizes an allocation.
  if (packCount > (bytes.size() - r.at) / kPackSize) return fail("pack count past the end");
  if (chunkCount != (bytes.size() - r.at - packCount * kPackSize) / kChunkSize ||
      (bytes.size() - r.at - packCount * kPackSize) % kChunkSize != 0) {
    return fail("chunk count does not match the length");
  }
  indexOut.packs.resize(size_t(packCount));
  for (ReleaseObject& pack : indexOut.packs) {
    r.Digest(pack.digest);
    pack.size = r.Get(8);
  }
  indexOut.chunks.resize(size_t(chunkCount));
  uint64_t total = 0;
  for (ChunkRef& c : indexOut.chunks) {
    r.Digest(c.digest);
    c.size = uint32_t(r.Get(4));
    c.pack = uint32_t(r.Get(4));
    c.offset = r.Get(8);
    c.storedSize = uint32_t(r.Get(4));
    if (c.size == 0 || c.size > (uint32_t(1) << 24)) return fail("chunk size out of range");
    if (c.storedSize == 0 || c.storedSize > c.size) return fail("stored size out of range");
    if (c.pack >= packCount) return fail("chunk names no pack");
    const uint64_t packSize = indexOut.packs[c.pack].size;
    if (c.offset > packSize || c.storedSize > packSize - c.offset) {
      return fail("chunk lies outside its pack");
    }
    if (c.size > indexOut.fileSize - total) return fail("chunks longer than the file");
    total += c.size;
  }
  if (total != indexOut.fileSize) return fail("chunks shorter than the file");
  return true;
}

std::string PackObjectName(const Sha256Digest& digest) { return DigestHex(digest) + ".pack"; }
std::string IndexObjectName(const Sha256Digest& digest) { return DigestHex(digest) + ".index"; }

}  // namespace sv
