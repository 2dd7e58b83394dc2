// Streams from our compressor must decode with the reference LZO1X decoder too (the patcher's
// decoder is ours; a stream only it accepts would hide a bug in both).
#include <lzo/lzo1x.h>

#include <gtest/gtest.h>

#include "publisher/lzo_compress.h"
#include "tests/publisher/sample_data.h"

using sv::test::MakeSample;
using sv::test::SampleKind;

TEST(LzoReference, ReferenceDecoderAcceptsEveryLevel) {
  ASSERT_EQ(lzo_init(), LZO_E_OK);
  const size_t kSizes[] = {0, 1, 3, 4, 19, 300, 65536, 1 << 20};
  for (SampleKind kind : {SampleKind::kText, SampleKind::kBinary, SampleKind::kZeros,
                          SampleKind::kRandom, SampleKind::kMixed}) {
    for (size_t size : kSizes) {
      std::vector<uint8_t> data = MakeSample(kind, size, size + 3);
      for (int level = 1; level <= 9; ++level) {
        std::vector<uint8_t> packed;
        const size_t packedSize = sv::LzoCompressRaw(data.data(), data.size(), level, packed);
        ASSERT_GT(packedSize, 0u);
        std::vector<uint8_t> back(data.size() + 1);
        lzo_uint backLen = back.size();
        int rc = lzo1x_decompress_safe(packed.data(), packedSize, back.data(), &backLen,
                                       nullptr);
        ASSERT_EQ(rc, LZO_E_OK) << sv::test::SampleName(kind) << " " << size << " level "
                                << level;
        ASSERT_EQ(backLen, data.size());
        EXPECT_TRUE(std::equal(data.begin(), data.end(), back.begin()));
      }
    }
  }
}
