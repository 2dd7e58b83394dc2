#include "common/crc32.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/crc32_paths.h"
#include "tests/support/test_files.h"

namespace {

// One bit at a time, straight from the definition: the yardstick for both fast paths.
uint32_t BitwiseCrc(const uint8_t* p, size_t n) {
  uint32_t reg = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    reg ^= p[i];
    for (int b = 0; b < 8; ++b) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1)));
  }
  return ~reg;
}

}  // namespace

TEST(Crc32, KnownValues) {
  EXPECT_EQ(sv::Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(~sv::Crc32Update(0xFFFFFFFFu, "abc", 3), 0x352441C2u);
  EXPECT_EQ(sv::Crc32("", 0), 0u);
  const std::vector<uint8_t> zeros(4096, 0);
  EXPECT_EQ(sv::Crc32(zeros.data(), zeros.size()), 0xC71C0011u);  // zlib's crc32 of 4096 zeros
}

TEST(Crc32, BothPathsMatchDefinitionAtEveryLengthAndAlignment) {
  const std::vector<uint8_t> data = sv::test::RandomBytes((1u << 20) + 64, 12345);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (size_t n : {511u, 1000u, 4099u, 65536u, 65537u, 1u << 20}) lengths.push_back(n);
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t n : lengths) {
      const uint8_t* p = data.data() + offset;
      const uint32_t expected = BitwiseCrc(p, n);
      ASSERT_EQ(~sv::Crc32UpdateTables(0xFFFFFFFFu, p, n), expected)
          << "tables n=" << n << " at " << offset;
      ASSERT_EQ(~sv::Crc32UpdateFolding(0xFFFFFFFFu, p, n), expected)
          << "folding n=" << n << " at " << offset;
      ASSERT_EQ(sv::Crc32(p, n), expected);
    }
  }
  RecordProperty("folding", sv::Crc32FoldingAvailable() ? "available" : "not available");
}

TEST(Crc32, RegisterCarriesAcrossPieces) {
  const std::vector<uint8_t> data = sv::test::RandomBytes(200000, 12345);
  const uint32_t whole = sv::Crc32(data.data(), data.size());
  for (size_t cut : {1u, 7u, 63u, 64u, 65u, 4097u, 131071u}) {
    uint32_t reg = sv::Crc32Update(0xFFFFFFFFu, data.data(), cut);
    reg = sv::Crc32UpdateFolding(reg, data.data() + cut, 1000);
    reg = sv::Crc32UpdateTables(reg, data.data() + cut + 1000, data.size() - cut - 1000);
    EXPECT_EQ(~reg, whole) << cut;
  }
}

TEST(Crc32, FormatAndParseHex) {
  EXPECT_EQ(sv::FormatCrc32(0xCBF43926u), "cbf43926");
  EXPECT_EQ(sv::FormatCrc32(0x0000000Au), "0000000a");
  uint32_t v = 0;
  EXPECT_TRUE(sv::ParseHex32("0xAbCdEf01", v));
  EXPECT_EQ(v, 0xABCDEF01u);
  EXPECT_TRUE(sv::ParseHex32("ff", v));
  EXPECT_EQ(v, 0xFFu);
  EXPECT_TRUE(sv::ParseHex32("0X0", v));
  EXPECT_EQ(v, 0u);
  v = 77;
  for (const char* bad : {"", "0x", "123456789", "12g4", " ff", "ff ", "-1", "0x0x1", "x12"}) {
    EXPECT_FALSE(sv::ParseHex32(bad, v)) << bad;
  }
  EXPECT_EQ(v, 77u);
}
