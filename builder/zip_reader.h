#pragma once
// The skin importer's zip reader: the end record (behind a comment of up to 65,535 bytes), the
// central directory and the local headers; stored and DEFLATE entries, sizes and CRC-32 checked.
// Folders, "__MACOSX" entries and files the skin package does not take are skipped. Zip64,
// encryption and other methods are refused. Every length is checked against what is left of the
// file, so no input makes it read outside the bytes it was given.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "skin/skin_package.h"

namespace sv {

constexpr uint64_t kZipFileMaxSize = 268435456;  // 256 MiB

constexpr const wchar_t* kZipCancelledText = L"Yukleme iptal edildi.";

// Adds (or replaces) an entry for every file taken from the zip image and counts them in
// addedOut. The first error ends the read with its message; entries added before it stay.
//
// The work is bounded by the package's own limits whatever the zip claims, so that any zip of
// the allowed size reads in about a second: the whole directory is checked before anything is
// decoded; at most kSkinPackageMaxEntries records are taken; no two taken records may share
// bytes; and every byte decoded counts against kSkinPackageMaxData, replaced entries included.
// A set *cancel ends the read between entries with kZipCancelledText.
bool ReadZipBytes(std::string_view zip, SkinPackageBuilder& entries, int& addedOut,
                  std::wstring* errorOut = nullptr, const std::atomic<bool>* cancel = nullptr);

// ReadZipBytes over a zip file read whole.
bool ReadZipEntries(const std::wstring& path, SkinPackageBuilder& entries, int& addedOut,
                    std::wstring* errorOut = nullptr, const std::atomic<bool>* cancel = nullptr);

}  // namespace sv
