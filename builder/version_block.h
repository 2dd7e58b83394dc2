#pragma once
// The patcher's version resource (RT_VERSION 1) in the VS_VERSIONINFO layout: the fixed version
// words and the StringFileInfo texts shown in Explorer's file properties.
#include <array>
#include <string_view>
#include <cstdint>
#include <string>

namespace sv {

// The texts of the version block; empty ones fall back as the builder documents (product name
// first, the others derived from it).
struct VersionFields {
  std::wstring productName;
  std::wstring company;
  std::wstring fileDescription;
  std::wstring version;
  std::wstring copyright;
  std::wstring originalFileName;
};

// The four version numbers of a text: runs of digits (each clamped to 65535) separated by dots
// fill 1.0.0.0 from the left; another character or a fifth number ends the scan.
std::array<uint16_t, 4> ParseVersionText(std::wstring_view text);
std::wstring NormalizeVersionText(std::wstring_view text);

// The fields with every fallback applied.
VersionFields WithFallbacks(const VersionFields& fields);

// The whole VS_VERSIONINFO block, little-endian, language 0x0409 and code page 1200. Every node's
// length is 16 bits: texts that make the block larger than 65535 bytes are refused with the
// message for the operator instead of being written with a wrapped length.
bool BuildVersionBlock(const VersionFields& fields, std::string& blockOut, std::wstring* errorOut = nullptr);

}  // namespace sv
