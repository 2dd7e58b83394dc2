#pragma once
// Zips made to cost a zip reader as much work as their size allows, for the skin importer's tests
// and its benchmark (the fuzz corpus holds small copies, fuzz/corpus/zip/hostile_*):
//   SharedStream   many directory records that all point at one DEFLATE stream of zeros,
//                  named alike or each its own name (a 3.4 MB zip of 65,534 records over one
//                  32 MiB stream used to inflate 2 TiB and freeze the builder for 26 minutes);
//   ManyEmpty      many distinct empty stored entries (once quadratic in the entry look-ups);
//   UndeclaredSize distinct streams of zeros whose directory claims 0 bytes each;
//   DeclaredHuge   distinct streams whose directory claims 32 MiB each.
// No compressor is needed: a stream of zeros is one fixed-Huffman literal and then copies of 258
// bytes at distance 1 (RFC 1951, 3.2.6).
#include <cstdint>
#include <string>
#include <vector>

#include "common/crc32.h"

namespace sv::test::hostile {

inline void Put16(std::string& out, uint32_t v) {
  out += char(v & 0xFF);
  out += char((v >> 8) & 0xFF);
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

// A raw DEFLATE stream of n zero bytes (n >= 1) in one fixed-Huffman block.
inline std::string ZeroStream(uint32_t n) {
  std::string out;
  uint32_t bits = 0;
  int used = 0;
  auto put = [&](uint32_t value, int count) {  // least significant bit first
    for (int i = 0; i < count; ++i) {
      bits |= ((value >> i) & 1u) << used;
      if (++used == 8) {
        out += char(bits);
        bits = 0;
        used = 0;
      }
    }
  };
  auto code = [&](uint32_t value, int count) {  // Huffman codes: most significant bit first
    for (int i = count - 1; i >= 0; --i) put((value >> i) & 1u, 1);
  };
  auto literal = [&](unsigned symbol) {
    if (symbol < 144) code(0x30 + symbol, 8);
    else if (symbol < 256) code(0x190 + symbol - 144, 9);
    else if (symbol < 280) code(symbol - 256, 7);
    else code(0xC0 + symbol - 280, 8);
  };
  put(1, 1);  // last block
  put(1, 2);  // fixed Huffman
  literal(0);
  uint32_t left = n - 1;
  while (left >= 258 + 3 || left == 258) {
    literal(285);  // length 258, no extra bits
    code(0, 5);    // distance 1
    left -= 258;
  }
  while (left > 0) {  // the rest as literals (fewer than 261 bytes)
    literal(0);
    --left;
  }
  literal(256);
  if (used) out += char(bits);
  return out;
}

inline uint32_t ZeroCrc(uint32_t n) {
  const std::string zeros(n, '\0');
  return Crc32(zeros.data(), zeros.size());
}

struct Record {
  std::string name;
  uint32_t localOffset;
  uint16_t method;
  uint32_t crc, packedSize, plainSize;
};

inline std::string LocalEntry(const std::string& name, uint16_t method, uint32_t crc, const std::string& packed,
                              uint32_t plainSize) {
  std::string out;
  Put32(out, 0x04034B50);
  Put16(out, 20);
  Put16(out, 0);
  Put16(out, method);
  Put32(out, 0);
  Put32(out, crc);
  Put32(out, uint32_t(packed.size()));
  Put32(out, plainSize);
  Put16(out, uint16_t(name.size()));
  Put16(out, 0);
  return out + name + packed;
}

inline std::string Finish(std::string zip, const std::vector<Record>& records) {
  const uint32_t dirOffset = uint32_t(zip.size());
  for (const Record& r : records) {
    Put32(zip, 0x02014B50);
    Put16(zip, 20);
    Put16(zip, 20);
    Put16(zip, 0);
    Put16(zip, r.method);
    Put32(zip, 0);
    Put32(zip, r.crc);
    Put32(zip, r.packedSize);
    Put32(zip, r.plainSize);
    Put16(zip, uint16_t(r.name.size()));
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, 0);
    Put16(zip, 0);
    Put32(zip, 0);
    Put32(zip, r.localOffset);
    zip += r.name;
  }
  const uint32_t dirSize = uint32_t(zip.size()) - dirOffset;
  Put32(zip, 0x06054B50);
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, uint32_t(records.size()));
  Put16(zip, uint32_t(records.size()));
  Put32(zip, dirSize);
  Put32(zip, dirOffset);
  Put16(zip, 0);
  return zip;
}

inline std::string Numbered(uint32_t i) { return "f" + std::to_string(i) + ".png"; }

// `records` directory records over one stream of `plainSize` zeros.
inline std::string SharedStream(uint32_t records, uint32_t plainSize, bool sameName) {
  const std::string packed = ZeroStream(plainSize);
  const uint32_t crc = ZeroCrc(plainSize);
  std::string zip = LocalEntry("a.png", 8, crc, packed, plainSize);
  std::vector<Record> dir;
  for (uint32_t i = 0; i < records; ++i)
    dir.push_back({sameName ? "a.png" : Numbered(i), 0, 8, crc, uint32_t(packed.size()), plainSize});
  return Finish(std::move(zip), dir);
}

inline std::string ManyEmpty(uint32_t records) {
  std::string zip;
  std::vector<Record> dir;
  for (uint32_t i = 0; i < records; ++i) {
    dir.push_back({Numbered(i), uint32_t(zip.size()), 0, 0, 0, 0});
    zip += LocalEntry(Numbered(i), 0, 0, std::string(), 0);
  }
  return Finish(std::move(zip), dir);
}

// `entries` distinct streams of `plainSize` zeros each; the directory claims `declared` bytes.
inline std::string DistinctStreams(uint32_t entries, uint32_t plainSize, uint32_t declared) {
  const std::string packed = ZeroStream(plainSize);
  const uint32_t crc = ZeroCrc(plainSize);
  std::string zip;
  std::vector<Record> dir;
  for (uint32_t i = 0; i < entries; ++i) {
    dir.push_back({Numbered(i), uint32_t(zip.size()), 8, crc, uint32_t(packed.size()), declared});
    zip += LocalEntry(Numbered(i), 8, crc, packed, declared);
  }
  return Finish(std::move(zip), dir);
}

inline std::string UndeclaredSize(uint32_t entries, uint32_t plainSize) { return DistinctStreams(entries, plainSize, 0); }
inline std::string DeclaredHuge(uint32_t entries, uint32_t plainSize) {
  return DistinctStreams(entries, plainSize, plainSize);
}

}  // namespace sv::test::hostile
