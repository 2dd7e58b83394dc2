#pragma once
// CRC-32 of IEEE 802.3 / zlib (reflected polynomial 0xEDB88320).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sv {

// Advances a register kept inverted: start at 0xFFFFFFFF, complement at the end.
uint32_t Crc32Update(uint32_t reg, const void* data, size_t length);
// Convenience: the finished CRC-32 of one buffer.
inline uint32_t Crc32(const void* data, size_t length) {
  return ~Crc32Update(0xFFFFFFFFu, data, length);
}
// The CRC of A followed by B from the CRCs of A and of B and the length of B, without the bytes,
// so that pieces of one input can be checked on different threads.
uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB);
// Told the length of each piece as it is read; returning false stops the reading.
using Crc32FileProgress = std::function<bool(uint32_t pieceLength)>;
// CRC and size of a whole file, read in pieces of up to `bufferSize` bytes into `buffer`. The file
// is opened sharing read, write and delete: the game or another checker may hold it meanwhile.
// False when it cannot be opened or read, or when `progress` stopped the reading.
bool Crc32File(const std::wstring& path, void* buffer, uint32_t bufferSize, uint32_t& crcOut,
               uint64_t& sizeOut, const Crc32FileProgress& progress = {});
// The same in 1 MiB pieces, into a buffer of its own.
bool Crc32File(const std::wstring& path, uint32_t& crcOut, uint64_t& sizeOut);
// Eight lower-case hex digits ("%08x").
std::string FormatCrc32(uint32_t value);
// Optional 0x/0X, then 1 to 8 hex digits and nothing else.
bool ParseHex32(std::string_view text, uint32_t& valueOut);

}  // namespace sv
