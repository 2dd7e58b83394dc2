// The chunk cutter, the chunk index and the chunk list: the cuts survive shifted content, and the
// two formats read back as written and refuse what they cannot trust.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "release/chunk_hashing.h"
#include "release/chunk_index.h"
#include "release/chunk_list.h"
#include "release/chunker.h"

namespace sv {
namespace {

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = uint8_t(random());
  return bytes;
}

// The chunks of `data` read in pieces of `piece` bytes, as digests in order.
std::vector<Sha256Digest> Chunks(const std::vector<uint8_t>& data, size_t piece,
                                 std::vector<size_t>* sizes = nullptr) {
  std::vector<Sha256Digest> digests;
  size_t at = 0;
  uint64_t expected = 0;
  EXPECT_TRUE(ChunkStream(
      [&](uint8_t* buffer, size_t capacity) {
        const size_t n = std::min({capacity, piece, data.size() - at});
        std::copy_n(data.begin() + ptrdiff_t(at), n, buffer);
        at += n;
        return (long long)n;
      },
      [&](const uint8_t* p, size_t size, uint64_t offset) {
        EXPECT_EQ(offset, expected);
        expected += size;
        digests.push_back(Sha256Of(std::string_view(reinterpret_cast<const char*>(p), size)));
        if (sizes) sizes->push_back(size);
        return true;
      }));
  EXPECT_EQ(expected, data.size());
  return digests;
}

TEST(Chunker, CutsWithinBoundsAlikeForAnyReadSizeAndResyncsAfterAnEdit) {
  const std::vector<uint8_t> data = RandomBytes(4 << 20, 1);
  std::vector<size_t> sizes;
  const std::vector<Sha256Digest> whole = Chunks(data, data.size(), &sizes);
  for (size_t i = 0; i + 1 < sizes.size(); ++i) {
    EXPECT_GE(sizes[i], kChunkMinSize);
    EXPECT_LE(sizes[i], kChunkMaxSize);
  }
  const double average = double(data.size()) / double(sizes.size());
  EXPECT_GT(average, kChunkAverageSize * 0.7);
  EXPECT_LT(average, kChunkAverageSize * 1.5);
  EXPECT_EQ(Chunks(data, 1000, nullptr), whole);

  // Bytes inserted near the start and others deleted further on: all but a few chunks remain.
  std::vector<uint8_t> edited = data;
  edited.insert(edited.begin() + 1000, 777, 0x5A);
  edited.erase(edited.begin() + (2 << 20), edited.begin() + (2 << 20) + 5000);
  const std::vector<Sha256Digest> after = Chunks(edited, 65536);
  const std::set<Sha256Digest> before(whole.begin(), whole.end());
  size_t shared = 0;
  for (const Sha256Digest& d : after) shared += before.count(d);
  EXPECT_GE(shared + 8, after.size());

  // Data without any cut point (all zero) is cut at the largest size.
  std::vector<size_t> flat;
  Chunks(std::vector<uint8_t>(kChunkMaxSize * 3 + 5, 0), 4096, &flat);
  EXPECT_EQ(flat, (std::vector<size_t>{kChunkMaxSize, kChunkMaxSize, kChunkMaxSize, 5}));
}

TEST(Chunker, HashesOnSeveralThreadsInFileOrder) {
  // Several batches of chunks, so the threads' hashes must be put back in order across them.
  const std::vector<uint8_t> data = RandomBytes(20 << 20, 2);
  const std::vector<Sha256Digest> expected = Chunks(data, 1 << 20);
  size_t at = 0;
  auto read = [&](uint8_t* buffer, size_t capacity) {
    const size_t n = std::min({capacity, size_t(1) << 20, data.size() - at});
    std::copy_n(data.begin() + ptrdiff_t(at), n, buffer);
    at += n;
    return (long long)n;
  };
  std::vector<Sha256Digest> got;
  uint64_t next = 0;
  EXPECT_TRUE(HashedChunkStream(read, [&](const Sha256Digest& d, uint32_t size, uint64_t offset) {
    EXPECT_EQ(offset, next);
    next += size;
    got.push_back(d);
    return true;
  }, 3));
  EXPECT_EQ(got, expected);
  // A visit that refuses ends the stream.
  at = 0;
  size_t seen = 0;
  EXPECT_FALSE(HashedChunkStream(read, [&](const Sha256Digest&, uint32_t, uint64_t) {
    return ++seen < 10;
  }, 2));
  EXPECT_EQ(seen, 10u);
}

ChunkIndex SampleIndex() {
  ChunkIndex index;
  index.fileSize = 30000;
  index.fileCrc = 0x1234ABCD;
  index.fileDigest[3] = 9;
  index.packs = {{Sha256Digest{1}, 40000}, {Sha256Digest{2}, 100}};
  index.chunks = {{Sha256Digest{7}, 20000, 0, 0, 15000}, {Sha256Digest{8}, 10000, 1, 0, 100}};
  return index;
}

TEST(ChunkIndex, ReadsBackAndRefusesEveryCutAndInconsistency) {
  const std::string bytes = FormatChunkIndex(SampleIndex());
  ChunkIndex back;
  std::string error;
  ASSERT_TRUE(ParseChunkIndex(bytes, back, error)) << error;
  EXPECT_EQ(FormatChunkIndex(back), bytes);
  // Every prefix, at the end of its own allocation so a read past it is caught.
  for (size_t n = 0; n < bytes.size(); ++n) {
    const std::string cut = bytes.substr(0, n);
    EXPECT_FALSE(ParseChunkIndex(cut, back, error)) << n;
  }
  auto refused = [&](void (*change)(ChunkIndex&), const char* reason) {
    ChunkIndex bad = SampleIndex();
    change(bad);
    EXPECT_FALSE(ParseChunkIndex(FormatChunkIndex(bad), back, error)) << reason;
    EXPECT_NE(error.find(reason), std::string::npos) << error;
  };
  refused([](ChunkIndex& i) { i.fileSize += 1; }, "shorter than the file");
  refused([](ChunkIndex& i) { i.fileSize -= 1; }, "longer than the file");
  refused([](ChunkIndex& i) { i.chunks[1].pack = 2; }, "names no pack");
  refused([](ChunkIndex& i) { i.chunks[1].offset = 1; }, "outside its pack");
  refused([](ChunkIndex& i) { i.chunks[0].storedSize = 20001; }, "stored size");
  refused([](ChunkIndex& i) { i.chunks[0].size = 0; }, "chunk size");
  // A pack count that claims more than the bytes hold.
  std::string forged = bytes;
  forged[8 + 8 + 4 + 32 + 3] = char(0x7F);
  EXPECT_FALSE(ParseChunkIndex(forged, back, error));
}

TEST(ChunkList, ReadsBackAndKeepsItsStoreInsideTheServer) {
  ChunkList list;
  list.store = "../chunks/";
  list.files.push_back({"data/map one.bin", 0xDEADBEEF, 5000000, 2100000, {Sha256Digest{4}, 96}});
  const std::string text = FormatChunkList(list);
  ChunkList back;
  std::string error;
  ASSERT_TRUE(ParseChunkList(text, back, error)) << error;
  EXPECT_EQ(FormatChunkList(back), text);
  EXPECT_EQ(back.files[0].path, "data/map one.bin");
  for (const char* bad : {"/chunks/", "../../chunks/", "chunks/../../x/", "http://x/", "chunks"}) {
    EXPECT_FALSE(ParseChunkList(std::string("sarvik-chunks 1\nstore ") + bad + "\n", back, error))
        << bad;
  }
  EXPECT_FALSE(ParseChunkList(text.substr(0, text.size() - 1), back, error));

  const ReleaseObject object = ReleaseObjectOf(text);
  ReleaseObject found;
  ASSERT_TRUE(FindChunkListReference("# made by hand\r\n" + ChunkListReference(object) +
                                         "1A2B3C4D 10 a.bin\n",
                                     found));
  EXPECT_EQ(found, object);
  EXPECT_FALSE(FindChunkListReference("1A2B3C4D 10 a.bin\n" + ChunkListReference(object), found));
  EXPECT_EQ(ChunkStoreUrl(L"http://h/game/v2/", "../chunks/"), L"http://h/game/chunks/");
  EXPECT_EQ(ChunkStoreUrl(L"http://h/game", "chunks/"), L"http://h/game/chunks/");
  EXPECT_EQ(ChunkStoreUrl(L"http://h/", "../chunks/"), L"http://h/chunks/");
}

}  // namespace
}  // namespace sv
