#include "release/lz_decode.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "lz_test_util.h"
#include "common/crc32.h"

namespace {

using sv::test::ChunkedReader;
using sv::test::RecordingWriter;

const std::wstring kTruncated = L"LZ verisi erken bitti (bozuk ya da eksik dosya).";
const std::wstring kBadReference = L"LZ verisi bozuk (gecersiz geri referans).";
const std::wstring kOversize = L"LZ verisi bozuk (boyut asildi).";
const std::wstring kTooLong = L"LZ verisi bozuk (asiri uzun tekrar).";
const std::wstring kSizeMismatch = L"LZ dosyasi bozuk (boyut uyusmuyor).";
const std::wstring kWriteFailed = L"Dosya yazilamadi (disk dolu ya da izin yok).";
const std::wstring kCancelled = L"Iptal edildi.";

std::vector<uint8_t> Header(uint32_t declared) {
  return {uint8_t(declared), uint8_t(declared >> 8), uint8_t(declared >> 16),
          uint8_t(declared >> 24)};
}

void Append(std::vector<uint8_t>& s, std::initializer_list<uint8_t> bytes) {
  s.insert(s.end(), bytes);
}

void SetDeclared(std::vector<uint8_t>& s, uint32_t declared) {
  const auto h = Header(declared);
  std::copy(h.begin(), h.end(), s.begin());
}

// A literal run of `count` (>= 18) bytes 1, 2, 3, ... as the first instruction.
void AppendLiteralRun(std::vector<uint8_t>& s, uint32_t count) {
  uint32_t rest = count - 18;
  s.push_back(0);
  for (; rest > 255; rest -= 255) s.push_back(0);
  s.push_back(uint8_t(rest));
  for (uint32_t i = 0; i < count; ++i) s.push_back(uint8_t(i + 1));
}

sv::LzResult Decode(const std::vector<uint8_t>& stream, sv::LzWriter* writer = nullptr) {
  sv::MemReader reader(stream.data(), stream.size());
  return sv::LzDecode(reader, writer, nullptr, nullptr);
}

std::wstring DecodeError(const std::vector<uint8_t>& stream) {
  const sv::LzResult r = Decode(stream);
  EXPECT_FALSE(r.ok);
  return r.error_text;
}

void ExpectSamplesDecode(const std::wstring& folder) {
  const auto samples = sv::test::ReadManifest(folder);
  ASSERT_FALSE(samples.empty());
  for (const auto& s : samples) {
    const auto stream = sv::test::ReadSample(folder, s.file);
    std::vector<uint8_t> out{1, 2, 3};
    std::wstring error;
    ASSERT_TRUE(sv::LzDecodeToMemory(stream.data(), stream.size(), out, &error)) << s.file;
    EXPECT_EQ(out.size(), s.size) << s.file;
    EXPECT_EQ(sv::Crc32(out.data(), out.size()), s.crc) << s.file;
    EXPECT_TRUE(error.empty());
    const sv::LzResult counted = Decode(stream);
    EXPECT_TRUE(counted.ok) << s.file;
    EXPECT_EQ(counted.out_size, s.size);
    EXPECT_EQ(counted.expected_size, s.size);
    EXPECT_EQ(counted.crc, s.crc) << s.file;
  }
}

}  // namespace

TEST(LzDecode, GoldenSamplesFromIndependentCompressor) {
  ExpectSamplesDecode(sv::test::GoldenLzFolder());
}

TEST(LzDecode, LargeSamplesThroughSeveralRefills) {
  const std::wstring folder = sv::test::LargeLzFolder();
  ASSERT_TRUE(sv::isFile(sv::joinPath(folder, L"manifest.txt")))
      << "made by the ctest fixture lz_large_samples";
  ExpectSamplesDecode(folder);
  const auto stream = sv::test::ReadSample(folder, "large_mixed.l1.lz");
  ASSERT_GT(stream.size(), 2u << 20);
  ChunkedReader reader(stream, 1u << 30);
  RecordingWriter writer;
  const sv::LzResult r = sv::LzDecode(reader, &writer, nullptr, nullptr);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(reader.calls, int((stream.size() + (1u << 20) - 1) >> 20));
  // Fixed-size blocks whatever the file: whole windows, then the rest.
  for (size_t i = 0; i + 1 < writer.blocks.size(); ++i) ASSERT_EQ(writer.blocks[i], 65536u);
  EXPECT_EQ(writer.bytes.size(), r.out_size);
}

TEST(LzDecode, RefillAtEveryPosition) {
  const std::wstring folder = sv::test::GoldenLzFolder();
  for (const char* file : {"text.l9.lz", "far.l9.lz", "noise.l1.lz", "runs.l1.lz", "mixed.l9.lz",
                           "text_65537.l1.lz"}) {
    const auto stream = sv::test::ReadSample(folder, file);
    const sv::LzResult whole = Decode(stream);
    ASSERT_TRUE(whole.ok) << file;
    for (uint32_t chunk : {1u, 2u, 3u, 7u, 16u, 17u, 4099u}) {
      ChunkedReader reader(stream, chunk);
      const sv::LzResult r = sv::LzDecode(reader, nullptr, nullptr, nullptr);
      EXPECT_TRUE(r.ok) << file << " chunk " << chunk;
      EXPECT_EQ(r.crc, whole.crc) << file << " chunk " << chunk;
    }
  }
}

TEST(LzDecode, WriterGetsWholeWindowsAndNoEmptyFlush) {
  const std::wstring folder = sv::test::GoldenLzFolder();
  const std::pair<const char*, std::vector<size_t>> cases[] = {
      {"empty.l1.lz", {}},
      {"one.l9.lz", {1}},
      {"text_65535.l9.lz", {65535}},
      {"text_65536.l1.lz", {65536}},
      {"text_65537.l9.lz", {65536, 1}},
  };
  for (const auto& [file, blocks] : cases) {
    RecordingWriter writer;
    const sv::LzResult r = Decode(sv::test::ReadSample(folder, file), &writer);
    EXPECT_TRUE(r.ok) << file;
    EXPECT_EQ(writer.blocks, blocks) << file;
    EXPECT_EQ(sv::Crc32(writer.bytes.data(), writer.bytes.size()), r.crc) << file;
  }
  std::vector<uint8_t> empty = Header(0);
  Append(empty, {0x11, 0, 0});
  const sv::LzResult r = Decode(empty);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.crc, 0u);
  EXPECT_EQ(r.out_size, 0u);
}

TEST(LzDecode, LargestDistanceAcceptedOneBeyondOutputRejected) {
  // 49151 literals, then a 3-byte match at distance 49151 (the format's largest).
  std::vector<uint8_t> s = Header(49151 + 3);
  AppendLiteralRun(s, 49151);
  Append(s, {0x19, 0xFC, 0xFF, 0x11, 0, 0});
  std::vector<uint8_t> out;
  std::wstring error;
  ASSERT_TRUE(sv::LzDecodeToMemory(s.data(), s.size(), out, &error)) << sv::toUtf8(error);
  ASSERT_EQ(out.size(), 49154u);
  EXPECT_EQ(out[49151], 1);
  EXPECT_EQ(out[49153], 3);

  std::vector<uint8_t> shortRun = Header(49150 + 3);
  AppendLiteralRun(shortRun, 49150);
  Append(shortRun, {0x19, 0xFC, 0xFF, 0x11, 0, 0});
  EXPECT_EQ(DecodeError(shortRun), kBadReference);

  // One literal, then a match at distance 2.
  std::vector<uint8_t> early = Header(4);
  Append(early, {18, 'A', 0x44, 0x00, 0x11, 0, 0});
  EXPECT_EQ(DecodeError(early), kBadReference);
}

TEST(LzDecode, DeclaredLengthMustMatch) {
  auto stream = sv::test::ReadSample(sv::test::GoldenLzFolder(), "text_small.l9.lz");
  SetDeclared(stream, 9001);
  sv::LzResult r = Decode(stream);
  EXPECT_EQ(r.error_text, kSizeMismatch);
  EXPECT_EQ(r.out_size, 9000u);
  SetDeclared(stream, 8999);
  RecordingWriter writer;
  r = Decode(stream, &writer);
  EXPECT_EQ(r.error_text, kOversize);
  EXPECT_TRUE(writer.bytes.empty());
  // A corrupt length may not make the decoder produce gigabytes before it notices.
  std::vector<uint8_t> bomb = Header(100);
  Append(bomb, {18, 'A', 0x20});
  bomb.insert(bomb.end(), 8000000, 0);
  Append(bomb, {1, 0x00, 0x00, 0x11, 0, 0});
  EXPECT_EQ(DecodeError(bomb), kOversize);
}

TEST(LzDecode, OverlongLengthRejected) {
  for (uint8_t t : {uint8_t(0x00), uint8_t(0x20), uint8_t(0x10)}) {
    std::vector<uint8_t> s = Header(0xFFFFFFFFu);
    Append(s, {18, 'A', 0x21, 0x00, 0x00});  // a literal and a match, to reach the initial context
    s.push_back(t);
    s.insert(s.end(), 0x7FFFFFFF / 255 + 1, 0);
    Append(s, {1, 0x04, 0x00, 0x11, 0, 0});
    EXPECT_EQ(DecodeError(s), kTooLong) << int(t);
  }
}

TEST(LzDecode, EveryPrefixReportsTruncation) {
  for (const char* file : {"text_small.l9.lz", "one.l1.lz"}) {
    const auto stream = sv::test::ReadSample(sv::test::GoldenLzFolder(), file);
    for (size_t n = 0; n < stream.size(); ++n) {
      // An exact-size copy: a read past its end is caught by the sanitizers.
      std::vector<uint8_t> prefix(stream.begin(), stream.begin() + ptrdiff_t(n));
      std::vector<uint8_t> out;
      std::wstring error;
      ASSERT_FALSE(sv::LzDecodeToMemory(prefix.data(), prefix.size(), out, &error)) << n;
      ASSERT_EQ(error, kTruncated) << file << " cut at " << n;
    }
  }
}

TEST(LzDecode, WriteFailureStopsTheDecode) {
  const auto stream = sv::test::ReadSample(sv::test::GoldenLzFolder(), "text_65537.l1.lz");
  for (int failAt : {0, 1}) {
    RecordingWriter writer;
    writer.failAt = failAt;
    const sv::LzResult r = Decode(stream, &writer);
    EXPECT_EQ(r.error_text, kWriteFailed);
    EXPECT_EQ(int(writer.blocks.size()), failAt);
  }
}

TEST(LzDecode, CancelAskedBeforeEveryRefill) {
  const auto stream = sv::test::ReadSample(sv::test::GoldenLzFolder(), "text.l1.lz");
  struct Counter {
    int calls = 0;
    int cancelAt = 0;
  };
  auto cancel = [](void* context) {
    auto* c = static_cast<Counter*>(context);
    return ++c->calls == c->cancelAt;
  };
  for (int cancelAt : {1, 3}) {
    Counter counter{0, cancelAt};
    ChunkedReader reader(stream, 1000);
    const sv::LzResult r = sv::LzDecode(reader, nullptr, cancel, &counter);
    EXPECT_EQ(r.error_text, kCancelled);
    EXPECT_EQ(reader.calls, cancelAt - 1);
  }
  Counter never{0, -1};
  ChunkedReader reader(stream, 1000);
  EXPECT_TRUE(sv::LzDecode(reader, nullptr, cancel, &never).ok);
  EXPECT_EQ(never.calls, reader.calls);
}

TEST(LzDecodeToMemory, ClearsOutputAndReportsErrors) {
  std::vector<uint8_t> out(10, 7);
  std::wstring error = L"untouched";
  const uint8_t shortStream[] = {1, 0};
  EXPECT_FALSE(sv::LzDecodeToMemory(shortStream, sizeof shortStream, out, &error));
  EXPECT_EQ(error, kTruncated);
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(sv::LzDecodeToMemory(nullptr, 0, out));
  const uint8_t one[] = {1, 0, 0, 0, 18, 'Z', 0x11, 0, 0};
  error = L"untouched";
  EXPECT_TRUE(sv::LzDecodeToMemory(one, sizeof one, out, &error));
  EXPECT_EQ(out, std::vector<uint8_t>{'Z'});
  EXPECT_EQ(error, L"untouched");
}
