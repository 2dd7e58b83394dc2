#pragma once
// ".lz" files on disk: compressing a file into one and unpacking one, each written under a
// temporary name and renamed into place, so no reader ever sees half a file.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "publisher/lzo_compress.h"
#include "release/sha256.h"

namespace sv {

// Random-access reads of a file for the compressor.
class FileInput : public LzoInput {
 public:
  bool Open(const std::filesystem::path& p, uint64_t& sizeOut);
  bool ReadAt(uint64_t offset, void* buffer, size_t size) override;

 private:
  std::ifstream in_;
  uint64_t position_ = 0;  // where the next read starts without a seek
};

// The temporary name a file is written under before it is renamed into place.
std::filesystem::path TemporaryName(const std::filesystem::path& target);

struct LzFileResult {
  bool ok = false;
  uint32_t crc = 0;        // of the source file
  uint64_t size = 0;       // of the source file
  uint64_t lzSize = 0;
  std::string error;       // UTF-8, naming the file
  bool hashed = false;     // asked for: the SHA-256 of the ".lz", taken as it was written
  Sha256Digest digest{};
};

// `hash`: take the ".lz"'s SHA-256 on the way to the disk (a signed release lists it), which
// costs less than reading the object back afterwards.
LzFileResult CompressFile(const std::filesystem::path& source, const std::filesystem::path& target,
                          int level, LzProgressFn progress = nullptr, void* context = nullptr,
                          bool hash = false);
// A large file (UsesLzoBlocks) packed block by block by several threads into one ".lz": any
// thread packs any block, the blocks are written in order as they come, and a thread whose block
// is more than `window` blocks ahead of the writing waits, so memory stays bounded.
class BlockedLzFile {
 public:
  BlockedLzFile(const std::filesystem::path& source, const std::filesystem::path& target,
                int level, uint64_t size, size_t window, bool hash = false);
  ~BlockedLzFile();
  // Creates the temporary file; false with result().error set.
  bool Open();
  size_t blocks() const;
  // Packs block `index` and writes what is now in order. True when this call wrote the last
  // block: the file is then in place and result() final.
  bool Compress(size_t index);
  // After the last block, or with the error of the first failure.
  LzFileResult result() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

// Unpacks with the patcher's own decoder; `size` and `crc` describe the unpacked bytes.
LzFileResult DecompressFile(const std::filesystem::path& source,
                            const std::filesystem::path& target);

}  // namespace sv
