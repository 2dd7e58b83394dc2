#pragma once
// ".lz" files on disk: compressing a file into one and unpacking one, each written under a
// temporary name and renamed into place, so no reader ever sees half a file.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "publisher/lzo_compress.h"

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
};

LzFileResult CompressFile(const std::filesystem::path& source, const std::filesystem::path& target,
                          int level, LzProgressFn progress = nullptr, void* context = nullptr);
// Unpacks with the patcher's own decoder; `size` and `crc` describe the unpacked bytes.
LzFileResult DecompressFile(const std::filesystem::path& source,
                            const std::filesystem::path& target);

}  // namespace sv
