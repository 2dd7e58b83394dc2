#pragma once
// The two ways Crc32Update can compute: both take and return the register in inverted form and
// give identical results. Exposed so that tests and benchmarks can hold them against each other.
#include <cstddef>
#include <cstdint>

namespace sv {

// Slicing-by-8 with eight 256-entry tables; any length, any alignment, any processor.
uint32_t Crc32UpdateTables(uint32_t reg, const void* data, size_t length);

// True when the processor has carry-less multiplication (PCLMULQDQ) and SSE4.1.
bool Crc32FoldingAvailable();
// Carry-less multiply folding, 64 bytes per step; only when Crc32FoldingAvailable(). Lengths
// below kCrc32FoldingMin and the tail after the last 16-byte block go through the tables.
uint32_t Crc32UpdateFolding(uint32_t reg, const void* data, size_t length);
constexpr size_t kCrc32FoldingMin = 64;

}  // namespace sv
