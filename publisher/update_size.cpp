#include "publisher/update_size.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>

#include "common/file.h"
#include "common/text.h"
#include "release/file_list.h"
#include "publisher/chunk_store.h"
#include "publisher/path_convert.h"
#include "publisher/progress_line.h"
#include "publisher/release_files.h"

namespace sv {

namespace fs = std::filesystem;

namespace {

bool ReadList(const fs::path& release, std::vector<FileEntry>& entries, std::string& error) {
  std::string text;
  std::wstring why;
  if (!readWholeFile(WideFromPath(release / kFileListName), kFileListMaxBytes, text) ||
      !ParseFileList(text, entries, why)) {
    std::string name;
    Utf8FromPath(release, name);
    error = "cannot read the " + std::string(kFileListName) + " of " + name;
    return false;
  }
  return true;
}

std::string ListPath(const std::wstring& path) {
  std::string utf8 = toUtf8(path);
  std::replace(utf8.begin(), utf8.end(), '\\', '/');
  return utf8;
}

}  // namespace

bool MeasureUpdate(const fs::path& from, const fs::path& to, UpdateSize& sizeOut,
                   std::string& errorOut) {
  sizeOut = UpdateSize();
  std::vector<FileEntry> oldFiles, newFiles;
  if (!ReadList(from, oldFiles, errorOut) || !ReadList(to, newFiles, errorOut)) return false;
  std::map<std::wstring, const FileEntry*> held;
  for (const FileEntry& e : oldFiles) held[toLowerWide(e.path)] = &e;
  ChunkList oldChunks, newChunks;
  ReadChunkList(from, oldChunks);
  ReadChunkList(to, newChunks);
  std::map<std::string, const ChunkedFile*> oldIndex, newIndex;
  for (const ChunkedFile& f : oldChunks.files) oldIndex[f.path] = &f;
  for (const ChunkedFile& f : newChunks.files) newIndex[f.path] = &f;
  const fs::path oldStore = (from / PathFromUtf8(oldChunks.store)).lexically_normal();
  const fs::path newStore = (to / PathFromUtf8(newChunks.store)).lexically_normal();

  for (const FileEntry& e : newFiles) {
    const std::string path = ListPath(e.path);
    std::error_code error;
    uint64_t lz = fs::file_size(to / PathFromUtf8(path + ".lz"), error);
    if (error) lz = 0;
    sizeOut.whole += lz;
    auto had = held.find(toLowerWide(e.path));
    if (had != held.end() && had->second->crc == e.crc && had->second->size == e.size) continue;
    ++sizeOut.changed;
    uint64_t cost = lz;
    auto now = newIndex.find(path);
    auto before = oldIndex.find(path);
    ChunkIndex newIdx, oldIdx;
    if (had != held.end() && now != newIndex.end() && before != oldIndex.end() &&
        ReadChunkIndexObject(newStore, now->second->index, newIdx) &&
        ReadChunkIndexObject(oldStore, before->second->index, oldIdx)) {
      std::set<Sha256Digest> seed;
      for (const ChunkRef& c : oldIdx.chunks) seed.insert(c.digest);
      uint64_t chunked = now->second->index.size;
      std::set<Sha256Digest> fetched;
      for (const ChunkRef& c : newIdx.chunks) {
        if (!seed.count(c.digest) && fetched.insert(c.digest).second) chunked += c.storedSize;
      }
      cost = std::min(cost, chunked);
    }
    sizeOut.download += cost;
  }
  return true;
}

std::string FormatUpdateSize(const std::string& from, const UpdateSize& size) {
  char share[32];
  std::snprintf(share, sizeof share, "%.1f%%",
                size.whole ? 100.0 * double(size.download) / double(size.whole) : 0.0);
  return "a player on " + from + " downloads " + FormatBytes(size.download) + " of " +
         FormatBytes(size.whole) + " (" + share + "), " + std::to_string(size.changed) +
         " changed file(s)";
}

}  // namespace sv
