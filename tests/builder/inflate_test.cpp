// The decoder's error table, one hand-made stream per message, and the exact stop at the end of
// the input and of the expected output.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "builder/inflate.h"
#include "builder_test_util.h"

namespace sv {
namespace {

using test::BitWriter;

// The stream is decoded from the end of a heap block of its own size: AddressSanitizer reports a
// read one byte past it (a short std::string would keep it in its inline buffer, unseen).
std::wstring ErrorOf(const std::string& stream, size_t expected = 0) {
  const std::unique_ptr<char[]> block(new char[stream.size() ? stream.size() : 1]);
  std::copy(stream.begin(), stream.end(), block.get());
  std::string out;
  std::wstring error;
  EXPECT_FALSE(Inflate(block.get(), stream.size(), out, expected, &error));
  EXPECT_TRUE(out.empty());
  return error;
}

// A dynamic block header whose code-length code gives 4 bits to each of 0..12, 16, 17, 18 (16
// symbols: complete), followed by the code-length symbols a test lists as {symbol, extra}.
struct LengthSymbol {
  unsigned symbol;
  unsigned extra;
};

unsigned CodeLengthCode(unsigned symbol) { return symbol <= 12 ? symbol : symbol - 16 + 13; }

void DynamicHeader(BitWriter& w, unsigned nlen, unsigned ndist,
                   const std::vector<LengthSymbol>& lengths, bool last = true) {
  static const unsigned kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  w.Put(last ? 1 : 0, 1);
  w.Put(2, 2);
  w.Put(nlen - 257, 5);
  w.Put(ndist - 1, 5);
  w.Put(19 - 4, 4);
  for (unsigned s : kOrder) w.Put((s <= 12 || s >= 16) ? 4 : 0, 3);
  for (const LengthSymbol& l : lengths) {
    w.Code(CodeLengthCode(l.symbol), 4);
    if (l.symbol == 16) w.Put(l.extra, 2);
    if (l.symbol == 17) w.Put(l.extra, 3);
    if (l.symbol == 18) w.Put(l.extra, 7);
  }
}

// Literal 'A' and end-of-block with one bit each; one distance code.
std::vector<LengthSymbol> TwoCodeLengths() {
  return {{18, 65 - 11}, {1, 0}, {18, 138 - 11}, {18, 52 - 11}, {1, 0}, {1, 0}};
}

TEST(Inflate, DynamicBlockDecodes) {
  BitWriter w;
  DynamicHeader(w, 257, 1, TwoCodeLengths());
  w.Code(0, 1);  // 'A'
  w.Code(0, 1);  // 'A'
  w.Code(1, 1);  // end of block
  std::string out;
  std::wstring error;
  ASSERT_TRUE(Inflate(w.bytes.data(), w.bytes.size(), out, 2, &error)) << error;
  EXPECT_EQ(out, "AA");
}

TEST(Inflate, FixedBlockWithLongestLengthAndOverlappingCopy) {
  BitWriter w;
  w.Put(1, 1);
  w.Put(1, 2);
  w.Fixed('x');
  w.Fixed('y');
  w.Fixed(285);      // length 258
  w.Code(1, 5);      // distance 2
  w.Fixed(256);
  std::string out;
  ASSERT_TRUE(Inflate(w.bytes.data(), w.bytes.size(), out, 260));
  std::string expected;
  for (int i = 0; i < 130; ++i) expected += "xy";
  EXPECT_EQ(out, expected);
}

TEST(Inflate, StopsAtTheEndOfTheLastBlockAndOfTheInput) {
  // A stored block of "abc", then bytes that are no DEFLATE at all: they are never read.
  std::string stream = std::string("\x01\x03\x00\xFC\xFF", 5) + "abc";
  std::string out;
  ASSERT_TRUE(Inflate(stream.data(), stream.size(), out, 3));
  EXPECT_EQ(out, "abc");
  ASSERT_TRUE(Inflate((stream + "\xFF\xFF").data(), stream.size() + 2, out, 3));
  EXPECT_EQ(out, "abc");
  // Every shorter input ends early; placed at the end of its own buffer for the sanitizer.
  for (size_t n = 0; n < stream.size(); ++n) {
    const std::string prefix = stream.substr(0, n);
    EXPECT_EQ(ErrorOf(prefix, 3), L"Deflate verisi erken bitti.") << n;
  }
}

TEST(Inflate, EveryErrorMessage) {
  EXPECT_EQ(ErrorOf(std::string("\x07", 1)), L"Gecersiz deflate blok turu.");
  EXPECT_EQ(ErrorOf(std::string()), L"Deflate verisi erken bitti.");
  EXPECT_EQ(ErrorOf(std::string("\x01\x05\x00\xFA\xFF" "abcde", 10), 4),
            L"Deflate ciktisi beklenen boyutu asti.");
  EXPECT_EQ(ErrorOf(std::string("\x01\x05\x00\x00\x00" "abcde", 10)), L"Deflate saklanan blok bozuk.");
  EXPECT_EQ(ErrorOf(std::string("\x01\x03\x00\xFC\xFF" "abc", 8), 4), L"Deflate cikti boyutu uyusmuyor.");

  {  // only end-of-block has a code ('0'); all-ones bits match nothing
    BitWriter w;
    DynamicHeader(w, 257, 1, {{18, 138 - 11}, {18, 118 - 11}, {1, 0}, {1, 0}});
    w.Put(0xFFFF, 16);
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate Huffman kodu gecersiz.");
  }
  {  // fixed length symbol 286
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    w.Fixed(286);
    w.Put(0, 16);
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate uzunluk kodu gecersiz.");
  }
  {  // fixed distance symbol 30
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    w.Fixed('a');
    w.Fixed(257);
    w.Code(30, 5);
    w.Put(0, 16);
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate mesafe kodu gecersiz.");
  }
  {  // a copy from before the first byte
    BitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    w.Fixed('a');
    w.Fixed(257);
    w.Code(1, 5);  // distance 2
    w.Fixed(256);
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate mesafesi cok uzak.");
  }
  {
    BitWriter w;
    w.Put(1, 1);
    w.Put(2, 2);
    w.Put(30, 5);  // 287 literal/length codes
    w.Put(0, 5);
    w.Put(0, 4);
    w.Put(0, 32);
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate dinamik blok sayilari gecersiz.");
  }
  {  // three code-length codes of one bit
    BitWriter w;
    w.Put(1, 1);
    w.Put(2, 2);
    w.Put(0, 5);
    w.Put(0, 5);
    w.Put(0, 4);  // four lengths: for 16, 17, 18, 0
    w.Put(1, 3);
    w.Put(1, 3);
    w.Put(1, 3);
    w.Put(0, 3);
    w.Put(0, 16);
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate kod uzunluklari bozuk.");
  }
  {
    BitWriter w;
    DynamicHeader(w, 257, 1, {{16, 0}});
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate tekrar kodu gecersiz.");
  }
  {
    BitWriter w;
    DynamicHeader(w, 257, 1, {{18, 127}, {18, 127}});
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate uzunluk tekrari tasti.");
  }
  {
    BitWriter w;
    DynamicHeader(w, 257, 1, {{18, 65 - 11}, {1, 0}, {18, 138 - 11}, {18, 53 - 11}, {1, 0}});
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate blok sonu kodu yok.");
  }
  {  // 'A', 'B' and end-of-block all one bit long
    BitWriter w;
    DynamicHeader(w, 257, 1, {{18, 65 - 11}, {1, 0}, {1, 0}, {18, 138 - 11}, {18, 51 - 11}, {1, 0}, {1, 0}});
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate uzunluk kodlari bozuk.");
  }
  {  // two distance codes of two bits leave the code incomplete
    BitWriter w;
    DynamicHeader(w, 257, 2, {{18, 65 - 11}, {1, 0}, {18, 138 - 11}, {18, 52 - 11}, {1, 0}, {2, 0}, {2, 0}});
    EXPECT_EQ(ErrorOf(w.bytes), L"Deflate mesafe kodlari bozuk.");
  }
}

}  // namespace
}  // namespace sv
