// Files with a chunk index are rebuilt in the work folder from the chunks the player's own files
// already hold and the chunks fetched from the store; whatever goes wrong with one leaves that
// file to the ordinary ".lz" download.
#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>

#include "common/clock_os.h"
#include "common/crc32.h"
#include "common/file.h"
#include "common/file_os.h"
#include "common/folder_list.h"
#include "common/path.h"
#include "common/text.h"
#include "common/thread_os.h"
#include "patcher/engine/chunk_plan.h"
#include "patcher/engine/fetch_retries.h"
#include "patcher/engine/log.h"
#include "release/lz_decode.h"
#include "patcher/engine/update_engine.h"
#include "release/url.h"
#include "release/chunk_list.h"
#include "release/chunk_hashing.h"
#include "release/chunker.h"

namespace sv {

namespace {

constexpr uint32_t kReadPiece = 1048576;
constexpr uint64_t kMaxRange = 4194304;
constexpr uint32_t kPollMs = 100;

std::string ListPathOf(const std::wstring& path) {
  std::string utf8 = toUtf8(path);
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  return utf8;
}

// Cuts a local file and offers its chunks; a file that cannot be read offers nothing. `read`
// hears of every piece read, for the progress shown meanwhile.
void CutSeed(const std::wstring& path, uint32_t seed, SeedMatcher& matcher,
             const CancelFlag& cancel, const std::function<void(uint32_t)>& read) {
  os::File file;
  if (!file.openScan(path)) return;
  HashedChunkStream(
      [&](uint8_t* buffer, size_t capacity) -> long long {
        if (cancel.load(std::memory_order_relaxed)) return -1;
        uint32_t done = 0;
        const uint32_t want = capacity < kReadPiece ? uint32_t(capacity) : kReadPiece;
        if (!file.read(buffer, want, done)) return -1;
        read(done);
        return done;
      },
      [&](const Sha256Digest& digest, uint32_t, uint64_t offset) {
        matcher.Offer(seed, digest, offset);
        return true;
      },
      os::processorCount());
}

bool WriteAt(os::File& file, uint64_t offset, const uint8_t* data, size_t size) {
  if (!file.seek(offset)) return false;
  while (size > 0) {
    uint32_t done = 0;
    if (!file.write(data, uint32_t(size), done) || done == 0) return false;
    data += done;
    size -= done;
  }
  return true;
}

bool ReadAt(os::File& file, uint64_t offset, uint8_t* data, size_t size) {
  if (!file.seek(offset)) return false;
  while (size > 0) {
    uint32_t done = 0;
    if (!file.read(data, uint32_t(size), done) || done == 0) return false;
    data += done;
    size -= done;
  }
  return true;
}

// The stored bytes of one chunk back to the chunk, checked against its SHA-256.
bool UnpackChunk(const ChunkRef& c, const uint8_t* stored, std::vector<uint8_t>& out) {
  if (c.Compressed()) {
    std::vector<uint8_t> framed(4 + c.storedSize);
    for (int i = 0; i < 4; ++i) framed[size_t(i)] = uint8_t(c.size >> (8 * i));
    std::copy(stored, stored + c.storedSize, framed.begin() + 4);
    if (!LzDecodeToMemory(framed.data(), framed.size(), out) || out.size() != c.size) return false;
  } else {
    out.assign(stored, stored + c.size);
  }
  return Sha256Of(std::string_view(reinterpret_cast<const char*>(out.data()), out.size())) ==
         c.digest;
}

// The ranges of one file, fetched by several threads into the file being assembled.
struct ChunkFetch {
  const HttpClient* http = nullptr;
  const CancelFlag* cancel = nullptr;
  const ChunkIndex* index = nullptr;
  const ChunkPlan* plan = nullptr;
  std::vector<std::wstring> stores;     // the chunk store on each mirror in use, best first
  std::vector<std::wstring> packNames;  // of index->packs
  os::File* out = nullptr;
  std::mutex lock;  // the next range, the output file, the failure
  size_t next = 0;
  bool failed = false;
  std::wstring failure;
  std::atomic<uint64_t> fetched{0};
};

struct RangeSink {
  std::vector<uint8_t>* body;
  uint64_t limit;
  std::atomic<uint64_t>* counter;
};

bool CollectRange(void* context, const void* data, uint32_t size) {
  RangeSink& sink = *static_cast<RangeSink*>(context);
  if (size > sink.limit - sink.body->size()) return false;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  sink.body->insert(sink.body->end(), p, p + size);
  *sink.counter += size;
  return true;
}

// One attempt at a range: every chunk in it arrives and matches its hash, or nothing is written.
bool FetchRange(ChunkFetch& f, const PackRange& range, const std::wstring& url,
                std::wstring& error) {
  std::vector<uint8_t> body;
  const uint64_t length = range.end - range.first;
  body.reserve(size_t(length));
  RangeSink sink{&body, length, &f.fetched};
  HttpResult result;
  const bool ok = f.http->Get(url, int64_t(range.first), int64_t(range.end - 1), result,
                              CollectRange, &sink, f.cancel);
  const bool whole = result.status == 200 && range.first == 0;
  if (!ok || (!whole && (result.status != 206 || !result.has_range ||
                         result.range_first != range.first)) ||
      body.size() < length) {
    f.fetched -= body.size();
    error = ok ? L"HTTP " + std::to_wstring(result.status) : result.error_text;
    return false;
  }
  std::vector<uint8_t> chunk;
  for (uint32_t m : range.missing) {
    const MissingChunk& missing = f.plan->missing[m];
    const ChunkRef& c = f.index->chunks[missing.chunk];
    if (!UnpackChunk(c, body.data() + (c.offset - range.first), chunk)) {
      error = L"parça SHA-256 uyuşmadı";
      return false;
    }
    std::lock_guard<std::mutex> guard(f.lock);
    for (uint64_t at : missing.fileOffsets) {
      if (!WriteAt(*f.out, at, chunk.data(), chunk.size())) {
        error = L"yazılamadı " + systemErrorText(os::lastError());
        return false;
      }
    }
  }
  return true;
}

void FetchWorker(void* context) {
  ChunkFetch& f = *static_cast<ChunkFetch*>(context);
  for (;;) {
    size_t i = 0;
    {
      std::lock_guard<std::mutex> guard(f.lock);
      if (f.failed || f.next >= f.plan->ranges.size() || IsCancelled(f.cancel)) return;
      i = f.next++;
    }
    const PackRange& range = f.plan->ranges[i];
    std::wstring error;
    // Each mirror in turn, then once more past any cache on the way; then the file goes to its
    // ".lz".
    bool done = false;
    for (size_t m = 0; m < f.stores.size() && !done && !IsCancelled(f.cancel); ++m) {
      done = FetchRange(f, range, f.stores[m] + f.packNames[range.pack], error);
      if (!done) Log(L"Parca tekrar indirilecek: %ls", error.c_str());
    }
    if (!done && !IsCancelled(f.cancel)) {
      done = FetchRange(f, range, PastCacheUrl(f.stores[0] + f.packNames[range.pack]), error);
    }
    if (!done) {
      std::lock_guard<std::mutex> guard(f.lock);
      f.failed = true;
      f.failure = error;
      return;
    }
  }
}

// Up to two other files beside `path`, large enough to be cut, nearest to `size` first.
std::vector<std::wstring> SimilarNeighbours(const std::wstring& path, uint64_t size) {
  constexpr size_t kMaxNeighbours = 2;
  const std::wstring folder = parentPath(path);
  std::vector<FolderItem> items;
  std::vector<std::pair<uint64_t, std::wstring>> found;
  listFolder(folder, L"*", items);
  for (const FolderItem& item : items) {
    const std::wstring full = joinPath(folder, item.name);
    if (item.directory || equalsNoCase(full, path)) continue;
    const os::FileInfo info = os::queryFileInfo(full);
    if (info.exists && !info.directory && info.size >= kChunkedFileThreshold) {
      found.emplace_back(info.size > size ? info.size - size : size - info.size, full);
    }
  }
  std::sort(found.begin(), found.end());
  std::vector<std::wstring> nearest;
  for (size_t i = 0; i < found.size() && i < kMaxNeighbours; ++i) nearest.push_back(found[i].second);
  return nearest;
}

// CRC-32 and SHA-256 of a whole file.
bool HashFile(const std::wstring& path, uint32_t& crc, Sha256Digest& digest, uint64_t& size) {
  os::File file;
  if (!file.openScan(path)) return false;
  std::vector<uint8_t> buffer(kReadPiece);
  uint32_t reg = 0xFFFFFFFFu;
  Sha256 hash;
  size = 0;
  for (;;) {
    uint32_t done = 0;
    if (!file.read(buffer.data(), kReadPiece, done)) return false;
    if (done == 0) break;
    reg = Crc32Update(reg, buffer.data(), done);
    hash.Update(buffer.data(), done);
    size += done;
  }
  crc = ~reg;
  digest = hash.Finish();
  return true;
}

}  // namespace

UpdateEngine::ChunkOutcome UpdateEngine::RebuildChunkedFile(const FileEntry& entry,
                                                            const ChunkedFile& listed,
                                                            const std::vector<std::wstring>& stores,
                                                            ChunkTotals& totals) {
  const std::wstring name = entry.path;
  const std::wstring destPath = joinPath(root_, entry.path);
  const std::wstring building = TempBaseName(workFolder_, entry.path) + L".build";
  const std::wstring earlier = TempBaseName(workFolder_, entry.path) + L".seed";
  // Nothing local to take chunks from: the ".lz" is the cheaper way.
  if (!isFile(destPath) && !isFile(building) && SimilarNeighbours(destPath, entry.size).empty()) {
    return ChunkOutcome::kWhole;
  }
  // The index: immutable, named by its hash, exactly its listed size.
  std::string bytes;
  std::wstring error;
  ChunkIndex index;
  std::string why;
  bool indexFetched = false;
  for (size_t m = 0; m < stores.size() && !indexFetched && !Cancelled(); ++m) {
    indexFetched = FetchWithRetries(http_, stores[m] + toWide(IndexObjectName(listed.index.digest)),
                                    size_t(listed.index.size), bytes, &cancel_, error);
  }
  if (!indexFetched) {
    if (Cancelled()) return ChunkOutcome::kStop;
    Log(L"Parca dizini alinamadi: %ls (%ls)", name.c_str(), error.c_str());
    return ChunkOutcome::kWhole;
  }
  totals.downloaded += bytes.size();
  if (ReleaseObjectOf(bytes) != listed.index || !ParseChunkIndex(bytes, index, why) ||
      index.fileSize != entry.size || index.fileCrc != entry.crc) {
    Log(L"Parca dizini gecersiz: %ls", name.c_str());
    return ChunkOutcome::kWhole;
  }
  std::string().swap(bytes);

  // Seeds: the file as it is (any version, damaged or cut short), and what an earlier run had
  // assembled, moved aside so the new assembly can be written where it was.
  if (isFile(building)) os::moveFile(building, earlier, false);
  std::vector<std::wstring> seeds = {destPath, earlier};
  SetCurrentText(name);
  SeedMatcher matcher(index);
  // Cutting a large file takes seconds: the bar follows the bytes read.
  uint64_t toCut = 0, cut = 0;
  auto cutSeed = [&](uint32_t s) {
    const os::FileInfo info = os::queryFileInfo(seeds[s]);
    toCut += info.exists && !info.directory ? info.size : 0;
    CutSeed(seeds[s], s, matcher, cancel_, [&](uint32_t read) {
      cut += read;
      std::lock_guard<std::mutex> guard(lock_);
      status_.current = toCut ? float(double(std::min(cut, toCut)) / double(toCut)) : 1.0f;
      ++status_.changeCounter;
    });
  };
  for (uint32_t s = 0; s < seeds.size(); ++s) cutSeed(s);
  ChunkPlan plan = PlanChunks(index, matcher.held(), kMaxRange);
  // A renamed or copied asset: when the file's own past covers little, its neighbours of a
  // similar size may hold its chunks.
  if (plan.reusedBytes < entry.size / 2) {
    for (const std::wstring& other : SimilarNeighbours(destPath, entry.size)) {
      seeds.push_back(other);
      cutSeed(uint32_t(seeds.size() - 1));
    }
    plan = PlanChunks(index, matcher.held(), kMaxRange);
  }
  if (Cancelled()) return ChunkOutcome::kStop;
  if (testHook_) testHook_("cut", destPath, testHookContext_);
  // Only worth it while the chunks cost less than the whole ".lz".
  if (plan.fetchBytes + listed.index.size >= listed.lzSize) {
    Log(L"Parcalar yerine tum dosya: %ls (%ls yerelde)", name.c_str(),
        formatSize(plan.reusedBytes).c_str());
    os::deleteFile(earlier);
    return ChunkOutcome::kWhole;
  }

  // The file is assembled whole beside the old one before it replaces it.
  if (!EnsureDiskSpace(entry.size)) return ChunkOutcome::kStop;
  os::File out;
  if (!out.openSharedWrite(building, true)) {
    Log(L"Dosya olusturulamadi: %ls (%u)", building.c_str(), unsigned(os::lastError()));
    return ChunkOutcome::kWhole;
  }
  bool copied = true;
  {
    std::vector<os::File> files(seeds.size());
    std::vector<char> opened(seeds.size(), 0);
    std::vector<uint8_t> chunk;
    for (size_t i = 0; i < plan.copies.size() && copied && !Cancelled(); ++i) {
      const SeedChunk& from = plan.copies[i];
      os::File& seed = files[from.seed];
      const ChunkRef& c = index.chunks[plan.copyChunks[i]];
      chunk.resize(c.size);
      if (!opened[from.seed]) opened[from.seed] = seed.openRead(seeds[from.seed]);
      copied = opened[from.seed] &&
               ReadAt(seed, from.offset, chunk.data(), c.size) &&
               WriteAt(out, plan.copyOffsets[i], chunk.data(), c.size);
    }
  }
  ChunkFetch fetch;
  fetch.http = &http_;
  fetch.cancel = &cancel_;
  fetch.index = &index;
  fetch.plan = &plan;
  fetch.out = &out;
  fetch.stores = stores;
  for (const ReleaseObject& pack : index.packs) {
    fetch.packNames.push_back(toWide(PackObjectName(pack.digest)));
  }
  if (copied && !Cancelled()) {
    const int32_t count = std::min<int32_t>(ClampWorkers(connections_),
                                            int32_t(std::max<size_t>(plan.ranges.size(), 1)));
    os::Thread workers[kMaxWorkers];
    int32_t started = 0;
    for (int32_t i = 0; i < count; ++i) started += workers[started].start(FetchWorker, &fetch);
    if (started == 0) FetchWorker(&fetch);
    const uint32_t began = os::tickCount();
    for (;;) {
      const bool ended = os::Thread::waitAll(workers, started, kPollMs);
      // What the window shows counts the bytes downloaded, never the bytes taken locally.
      const uint64_t fetched = fetch.fetched.load();
      const uint32_t elapsedMs = os::tickCount() - began;
      std::lock_guard<std::mutex> guard(lock_);
      status_.amountText = formatSize(totals.downloaded + fetched);
      status_.current = plan.fetchBytes ? float(double(fetched) / double(plan.fetchBytes)) : 1.0f;
      if (elapsedMs > 0) status_.speedText = formatSpeed(double(fetched) * 1000.0 / elapsedMs);
      ++status_.changeCounter;
      if (ended) break;
    }
    for (int32_t i = 0; i < started; ++i) workers[i].release();
  }
  totals.downloaded += fetch.fetched.load();
  const bool flushed = out.flush();
  const bool closed = out.close() && flushed;
  os::deleteFile(earlier);
  if (Cancelled()) return ChunkOutcome::kStop;  // what is assembled seeds the next run
  if (!copied || fetch.failed || !closed) {
    Log(L"Parcali guncelleme olmadi: %ls (%ls)", name.c_str(),
        copied ? fetch.failure.c_str() : L"yerel dosya okunamadi");
    os::deleteFile(building);
    return ChunkOutcome::kWhole;
  }
  // The whole file against the list and the index: a seed that changed while it was read shows
  // here, and nothing unchecked reaches the game folder.
  uint32_t crc = 0;
  uint64_t size = 0;
  Sha256Digest digest{};
  if (!HashFile(building, crc, digest, size) || crc != entry.crc || size != entry.size ||
      digest != index.fileDigest) {
    Log(L"CRC uyusmadi: %ls (parcalardan)", name.c_str());
    os::deleteFile(building);
    return ChunkOutcome::kWhole;
  }
  if (!ReplaceFile(building, destPath, name, error)) {
    os::deleteFile(building);
    Fail(error);
    return ChunkOutcome::kStop;
  }
  RecordCrc(name, destPath, entry.crc);
  totals.reused += plan.reusedBytes;
  Log(L"Guncellendi: %ls (%ls yerelden, %ls indirildi)", name.c_str(),
      formatSize(plan.reusedBytes).c_str(), formatSize(fetch.fetched.load()).c_str());
  return ChunkOutcome::kDone;
}

bool UpdateEngine::UpdateChunkedFiles(std::vector<FileEntry>& entries) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    chunkTotals_ = ChunkTotals();
  }
  if (entries.empty()) return true;
  struct Source {
    std::vector<std::wstring> stores;  // on each mirror in use, best first
    std::map<std::string, ChunkedFile> files;
  };
  std::map<std::wstring, Source> sources;
  // Only the chunk list its crclist names by hash (and so, in a signed release, the signature).
  for (const auto& [base, named] : chunkLists_) {
    std::string text, why;
    std::wstring error;
    ChunkList list;
    bool immutable = false;
    {
      std::lock_guard<std::mutex> guard(lock_);
      immutable = IsImmutableSource(remoteConfig_, base);
    }
    const std::wstring listUrl = joinUrl(base, toWide(kChunkListName));
    if (!FetchWithRetries(http_, SourceListUrl(listUrl, immutable), size_t(named.size), text,
                          &cancel_, error)) {
      if (Cancelled()) return false;
      continue;  // a server without the chunks: the ".lz" files remain
    }
    // A damaged copy from a cache on the way: once more past it before leaving the chunks.
    if (immutable && ReleaseObjectOf(text) != named &&
        !FetchWithRetries(http_, PastCacheUrl(listUrl), size_t(named.size), text, &cancel_,
                          error)) {
      if (Cancelled()) return false;
      continue;
    }
    if (ReleaseObjectOf(text) != named || !ParseChunkList(text, list, why)) {
      Log(L"Parca listesi kullanilamadi: %ls", toWide(why.empty() ? "hash" : why).c_str());
      continue;
    }
    Source& s = sources[base];
    std::lock_guard<std::mutex> guard(lock_);
    for (int32_t id : mirrors_.InUse(base)) {
      s.stores.push_back(ChunkStoreUrl(mirrors_.at(id).base, list.store));
    }
    if (s.stores.empty()) s.stores.push_back(ChunkStoreUrl(base, list.store));
    for (ChunkedFile& f : list.files) s.files[f.path] = std::move(f);
  }
  if (sources.empty()) return true;

  SetStatus(kPhaseDownloading, Text("TORRENT_STATE_DOWNLOADING"));
  ChunkTotals totals;
  std::vector<FileEntry> left;
  size_t rebuilt = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    const FileEntry& entry = entries[i];
    auto source = sources.find(entry.source.str());
    const ChunkedFile* listed = nullptr;
    if (source != sources.end()) {
      auto it = source->second.files.find(ListPathOf(entry.path));
      if (it != source->second.files.end() && it->second.crc == entry.crc &&
          it->second.size == entry.size) {
        listed = &it->second;
      }
    }
    // Larger files are refused with their own line by the download, as before.
    ChunkOutcome outcome = ChunkOutcome::kWhole;
    if (listed && entry.size <= kMaxFileSize && !isDirectory(joinPath(root_, entry.path))) {
      outcome = RebuildChunkedFile(entry, *listed, source->second.stores, totals);
    }
    if (outcome == ChunkOutcome::kStop) return false;
    if (outcome == ChunkOutcome::kDone) {
      ++rebuilt;
    } else {
      left.push_back(entry);
    }
  }
  entries = std::move(left);
  if (rebuilt > 0) {
    Log(L"Parcali guncelleme: %u dosya, %ls yerel dosyalardan alindi, %ls indirildi",
        unsigned(rebuilt), formatSize(totals.reused).c_str(),
        formatSize(totals.downloaded).c_str());
    std::lock_guard<std::mutex> guard(lock_);
    chunkTotals_ = totals;
  }
  return true;
}

}  // namespace sv
