// Our inflate against zlib's on streams zlib's deflate made: text, program bytes, PNG images,
// incompressible data, every level and the fixed-only, Huffman-only and run-length strategies,
// matches at the longest distance and of the longest length.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "builder/inflate.h"
#include "builder_test_util.h"
#include "common/crc32.h"

namespace sv {
namespace {

std::string Deflate(const std::string& data, int level, int strategy) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 9, strategy), Z_OK);
  std::string out(deflateBound(&z, data.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = uInt(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

std::string ZlibInflate(const std::string& stream, size_t size) {
  std::string out(size, '\0');
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = uInt(stream.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  inflateEnd(&z);
  return out;
}

std::vector<std::pair<std::string, std::string>> Corpus() {
  std::vector<std::pair<std::string, std::string>> corpus;
  const std::wstring skin = test::SampleSkin();
  corpus.push_back({"skin.xml", test::ReadFile(joinPath(skin, L"skin.xml"))});
  corpus.push_back({"main.png", test::ReadFile(joinPath(skin, L"main.png"))});
  corpus.push_back({"banner_on.png", test::ReadFile(joinPath(skin, L"banner_on.png"))});
  std::string text;
  while (text.size() < 300000) text += corpus[0].second;
  corpus.push_back({"text", text});
  std::string program;
  readWholeFile(L"/proc/self/exe", 64u << 20, program);
  program.resize(std::min<size_t>(program.size(), 2u << 20));
  corpus.push_back({"program", program});
  std::mt19937 random(7);
  std::string noise(200000, '\0');
  for (char& c : noise) c = char(random());
  corpus.push_back({"noise", noise});
  // The same 300 random bytes again exactly 32768 bytes later: matches at the longest distance.
  std::string far(70000, '\0');
  for (char& c : far) c = char(random());
  for (size_t i = 32768; i < far.size(); ++i) far[i] = far[i - 32768];
  corpus.push_back({"far", far});
  corpus.push_back({"runs", std::string(100000, 'z') + std::string(259, 'q') + "end"});
  corpus.push_back({"empty", std::string()});
  corpus.push_back({"one", std::string("1")});
  return corpus;
}

TEST(InflateAgainstZlib, EveryLevelAndStrategyOfTheCorpus) {
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY, Z_RLE, Z_FILTERED};
  for (const auto& [name, data] : Corpus()) {
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : strategies) {
        if (level == 0 && strategy != Z_DEFAULT_STRATEGY) continue;
        const std::string stream = Deflate(data, level, strategy);
        std::string ours;
        std::wstring error;
        ASSERT_TRUE(Inflate(stream.data(), stream.size(), ours, data.size(), &error))
            << name << " level " << level << " strategy " << strategy << ": " << toUtf8(error);
        ASSERT_EQ(ours, ZlibInflate(stream, data.size())) << name << " level " << level;
        ASSERT_EQ(Crc32(ours.data(), ours.size()), uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size()))));
        // Without a known size the output grows to the same bytes.
        std::string grown;
        ASSERT_TRUE(Inflate(stream.data(), stream.size(), grown, 0));
        ASSERT_EQ(grown, data) << name;
      }
    }
  }
}

TEST(InflateAgainstZlib, TruncatedAndSpoiledStreamsNeverReadOutside) {
  const std::string data = test::ReadFile(joinPath(test::SampleSkin(), L"skin.xml"));
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
    const std::string stream = Deflate(data, 9, strategy);
    for (size_t n = 0; n < stream.size(); ++n) {
      const std::string prefix = stream.substr(0, n);  // its own buffer: ASan sees its end
      std::string out;
      EXPECT_FALSE(Inflate(prefix.data(), prefix.size(), out, data.size())) << n;
    }
    std::mt19937 random(11);
    for (int round = 0; round < 2000; ++round) {
      std::string spoiled = stream;
      spoiled[random() % spoiled.size()] ^= char(1 << (random() % 8));
      std::string out;
      std::wstring error;
      if (Inflate(spoiled.data(), spoiled.size(), out, data.size(), &error)) {
        EXPECT_EQ(out.size(), data.size());
      } else {
        EXPECT_FALSE(error.empty());
      }
    }
  }
}

}  // namespace
}  // namespace sv
