#pragma once
// Shared by the LZ tests: sample streams made by python3-lzo (tests/support/make_lz_samples.py),
// and readers and writers that misbehave on purpose.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "common/file.h"
#include "common/path.h"
#include "common/text.h"
#include "release/lz_stream.h"
#include "tests/support/test_files.h"

namespace sv::test {

struct LzSample {
  std::string file;
  uint64_t size = 0;
  uint32_t crc = 0;
};

// The committed small streams, and the large ones made at test time by the ctest fixture.
inline std::wstring GoldenLzFolder() { return joinPath(toWide(SV_TEST_DATA_DIR), L"lz"); }
inline std::wstring LargeLzFolder() { return joinPath(toWide(SV_BINARY_DIR), L"lz-samples"); }

inline std::vector<uint8_t> ReadBytes(const std::wstring& path) {
  std::string bytes;
  EXPECT_TRUE(readWholeFile(path, 64u << 20, bytes)) << toUtf8(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

inline std::vector<LzSample> ReadManifest(const std::wstring& folder) {
  std::string text;
  EXPECT_TRUE(readWholeFile(joinPath(folder, L"manifest.txt"), 1u << 20, text)) << toUtf8(folder);
  std::vector<LzSample> samples;
  std::istringstream lines(text);
  LzSample s;
  std::string crc;
  while (lines >> s.file >> s.size >> crc) {
    s.crc = uint32_t(std::stoul(crc, nullptr, 16));
    samples.push_back(s);
  }
  return samples;
}

inline std::vector<uint8_t> ReadSample(const std::wstring& folder, const std::string& file) {
  return ReadBytes(joinPath(folder, toWide(file)));
}

// Delivers at most `chunk` bytes per call, so that the decoder refills at every position.
class ChunkedReader : public LzReader {
 public:
  ChunkedReader(const std::vector<uint8_t>& data, uint32_t chunk) : data_(data), chunk_(chunk) {}
  uint32_t Read(void* buffer, uint32_t capacity) override {
    ++calls;
    const size_t n = std::min<size_t>({capacity, chunk_, data_.size() - pos_});
    std::copy_n(data_.begin() + ptrdiff_t(pos_), n, static_cast<uint8_t*>(buffer));
    pos_ += n;
    return uint32_t(n);
  }
  int calls = 0;

 private:
  const std::vector<uint8_t>& data_;
  uint32_t chunk_;
  size_t pos_ = 0;
};

// Keeps every block it is given; refuses the block numbered failAt (0-based) when set.
class RecordingWriter : public LzWriter {
 public:
  bool Write(const void* data, size_t size) override {
    if (int(blocks.size()) == failAt) return false;
    blocks.push_back(size);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + size);
    return true;
  }
  std::vector<size_t> blocks;
  std::vector<uint8_t> bytes;
  int failAt = -1;
};

}  // namespace sv::test
