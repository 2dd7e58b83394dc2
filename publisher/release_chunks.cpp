#include "publisher/release_chunks.h"

#include <atomic>
#include <mutex>
#include <system_error>

#include "common/file.h"
#include "publisher/chunk_store.h"
#include "publisher/parallel_work.h"
#include "publisher/path_convert.h"
#include "publisher/release_versions.h"

namespace sv {

namespace fs = std::filesystem;

bool PublishChunks(const fs::path& out, const fs::path& release,
                   const std::vector<fs::path>& sources, const std::vector<ListedFile>& listed,
                   const std::vector<uint64_t>& lzSizes, int level, unsigned jobs,
                   ChunkedBuild& summary, std::ostream& err) {
  ChunkStore store(out / kChunkStoreFolder);
  if (!createDirectories(WideFromPath(store.folder()))) {
    err << "error: cannot create the folder " << kChunkStoreFolder << "\n";
    return false;
  }
  // Every release still served teaches the store its chunks, the in-place one and each version.
  store.Learn(out);
  for (const PublishedVersion& v : ListVersions(out)) store.Learn(out / PathFromUtf8(v.name));

  std::vector<size_t> chosen;
  for (size_t i = 0; i < listed.size(); ++i) {
    if (listed[i].size >= kChunkedFileThreshold) chosen.push_back(i);
  }
  std::vector<ChunkedFile> files(chosen.size());
  std::vector<std::string> errors(chosen.size());
  std::atomic<size_t> cut{0};
  std::atomic<bool> stop{false};
  RunInParallel(
      chosen.size(), WorkerCount(jobs, chosen.size()),
      [&](size_t n, unsigned) {
        const ListedFile& f = listed[chosen[n]];
        if (const ChunkedFile* earlier = store.Earlier(f.path, f.crc, f.size)) {
          files[n] = *earlier;
          files[n].lzSize = lzSizes[chosen[n]];
          return;
        }
        if (!store.AddFile(sources[chosen[n]], f.path, f.crc, f.size, lzSizes[chosen[n]], level,
                           files[n], errors[n])) {
          stop.store(true);
          return;
        }
        ++cut;
      },
      [] {}, stop);
  for (const std::string& e : errors) {
    if (!e.empty()) {
      err << "error: " << e << "\n";
      return false;
    }
  }
  ChunkList list;
  list.store = release == out ? std::string(kChunkStoreFolder) + "/"
                              : "../" + std::string(kChunkStoreFolder) + "/";
  list.files = std::move(files);
  summary.files = list.files.size();
  summary.cut = cut.load();
  const std::string text = FormatChunkList(list);
  summary.list = ReleaseObjectOf(text);
  if (!writeFileAtomic(WideFromPath(release / kChunkListName), text.data(), text.size())) {
    err << "error: cannot write " << kChunkListName << "\n";
    return false;
  }
  return true;
}

}  // namespace sv
