#pragma once
// The skin importer's zip reader: the end record (behind a comment of up to 65,535 bytes), the
// central directory and the local headers; stored and DEFLATE entries, sizes and CRC-32 checked.
// Folders, "__MACOSX" entries and files the skin package does not take are skipped. Zip64,
// encryption and other methods are refused. Every length is checked against what is left of the
// file, so no input makes it read outside the bytes it was given.
#include <cstdint>
#include <string>
#include <string_view>

#include "skin/skin_package.h"

namespace sv {

constexpr uint64_t kZipFileMaxSize = 268435456;  // 256 MiB

// Adds (or replaces) an entry for every file taken from the zip image and counts them in
// addedOut. The first error ends the read with its message; entries added before it stay.
bool ReadZipBytes(std::string_view zip, SkinPackageBuilder& entries, int& addedOut,
                  std::wstring* errorOut = nullptr);

// ReadZipBytes over a zip file read whole.
bool ReadZipEntries(const std::wstring& path, SkinPackageBuilder& entries, int& addedOut,
                    std::wstring* errorOut = nullptr);

}  // namespace sv
