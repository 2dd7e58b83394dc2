#pragma once
// The program's own DEFLATE decoder (RFC 1951): stored, fixed-Huffman and dynamic-Huffman blocks.
// It never reads outside the given input and never writes past the expected size; every failure
// ends as one of the fixed error texts, no exception leaves Inflate.
#include <cstddef>
#include <cstdint>
#include <string>

namespace sv {

// Thrown inside the decoder only; Inflate turns it into an error text.
struct InfError {
  const wchar_t* message;
};

// Decodes a raw DEFLATE stream into `out` (replaced). With a non-zero expectedSize the output may
// not pass it and must end exactly at it; with 0 the output grows as needed up to maxSize.
// Reading stops at the end of the last block, whatever follows it.
bool Inflate(const void* data, size_t size, std::string& out, size_t expectedSize,
             std::wstring* errorOut = nullptr, size_t maxSize = SIZE_MAX);

}  // namespace sv
