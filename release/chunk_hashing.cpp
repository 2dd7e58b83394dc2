#include "release/chunk_hashing.h"

#include <algorithm>
#include <atomic>
#include <string_view>
#include <vector>

#include "common/thread_os.h"

namespace sv {

namespace {

// Enough chunks per batch that starting the helpers costs nothing measurable, few enough that the
// copy stays in the processors' caches.
constexpr size_t kBatchBytes = size_t(8) << 20;
constexpr unsigned kMaxThreads = 16;

struct Batch {
  struct Item {
    size_t at;
    uint32_t size;
    uint64_t offset;
  };
  std::vector<uint8_t> bytes;
  std::vector<Item> items;
  std::vector<Sha256Digest> digests;
  std::atomic<size_t> next{0};
};

void HashItems(void* context) {
  Batch& b = *static_cast<Batch*>(context);
  for (size_t i; (i = b.next.fetch_add(1)) < b.items.size();) {
    const Batch::Item& item = b.items[i];
    b.digests[i] =
        Sha256Of(std::string_view(reinterpret_cast<const char*>(b.bytes.data() + item.at), item.size));
  }
}

bool HashAndVisit(Batch& b, unsigned threads, const HashedChunkVisit& visit) {
  b.digests.resize(b.items.size());
  b.next = 0;
  os::Thread helpers[kMaxThreads];
  int started = 0;
  const size_t want = std::min<size_t>(std::min(threads, kMaxThreads), b.items.size());
  for (size_t i = 1; i < want; ++i) started += helpers[started].start(HashItems, &b);
  HashItems(&b);
  os::Thread::waitAll(helpers, started, 0xFFFFFFFFu);
  for (size_t i = 0; i < b.items.size(); ++i) {
    if (!visit(b.digests[i], b.items[i].size, b.items[i].offset)) return false;
  }
  b.bytes.clear();
  b.items.clear();
  return true;
}

}  // namespace

bool HashedChunkStream(const ChunkRead& read, const HashedChunkVisit& visit, unsigned threads) {
  Batch b;
  b.bytes.reserve(kBatchBytes + kChunkMaxSize);
  const bool cut = ChunkStream(read, [&](const uint8_t* data, size_t size, uint64_t offset) {
    b.items.push_back(Batch::Item{b.bytes.size(), uint32_t(size), offset});
    b.bytes.insert(b.bytes.end(), data, data + size);
    return b.bytes.size() < kBatchBytes || HashAndVisit(b, threads, visit);
  });
  return cut && HashAndVisit(b, threads, visit);
}

}  // namespace sv
