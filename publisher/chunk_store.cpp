#include "publisher/chunk_store.h"

#include <fstream>
#include <set>
#include <system_error>

#include "common/crc32.h"
#include "common/file.h"
#include "publisher/lz_file.h"
#include "publisher/lzo_compress.h"
#include "publisher/path_convert.h"
#include "publisher/release_versions.h"
#include "release/chunker.h"

namespace sv {

namespace fs = std::filesystem;

namespace {

bool ReadObject(const fs::path& p, const ReleaseObject& object, std::string& bytes) {
  return readWholeFile(WideFromPath(p), object.size, bytes) && ReleaseObjectOf(bytes) == object;
}

bool WriteObject(const fs::path& p, const std::string& bytes) {
  return writeFileAtomic(WideFromPath(p), bytes.data(), bytes.size());
}

}  // namespace

bool ReadChunkList(const fs::path& release, ChunkList& listOut) {
  std::string text, error;
  return readWholeFile(WideFromPath(release / kChunkListName), kChunkListLimit, text) &&
         ParseChunkList(text, listOut, error);
}

bool ReadChunkIndexObject(const fs::path& store, const ReleaseObject& object,
                          ChunkIndex& indexOut) {
  std::string bytes, error;
  return ReadObject(store / IndexObjectName(object.digest), object, bytes) &&
         ParseChunkIndex(bytes, indexOut, error);
}

void ChunkStore::Learn(const fs::path& release) {
  ChunkList list;
  if (!ReadChunkList(release, list)) return;
  for (const ChunkedFile& f : list.files) {
    ChunkIndex index;
    if (!ReadChunkIndexObject(folder_, f.index, index)) continue;
    // An index is trusted only while each pack it names is there at its size.
    bool packsThere = true;
    for (const ReleaseObject& pack : index.packs) {
      std::error_code e;
      packsThere = packsThere && fs::file_size(folder_ / PackObjectName(pack.digest), e) ==
                                     pack.size && !e;
    }
    if (!packsThere) continue;
    for (const ChunkRef& c : index.chunks) {
      known_.try_emplace(c.digest, Located{index.packs[c.pack], c.offset, c.storedSize});
    }
    earlier_[f.path] = f;
  }
}

const ChunkedFile* ChunkStore::Earlier(const std::string& path, uint32_t crc,
                                       uint64_t size) const {
  auto it = earlier_.find(path);
  if (it == earlier_.end() || it->second.crc != crc || it->second.size != size) return nullptr;
  return &it->second;
}

bool ChunkStore::AddFile(const fs::path& source, const std::string& path, uint32_t crc,
                         uint64_t size, uint64_t lzSize, int level, ChunkedFile& out,
                         std::string& error) const {
  std::ifstream in(source, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  ChunkIndex index;
  std::map<Sha256Digest, uint32_t> packSlot;
  std::map<Sha256Digest, ChunkRef> inThisFile;
  const fs::path packTemp = TemporaryName(folder_ / PackObjectName(Sha256Of(path)));
  std::ofstream pack;
  Sha256 packHash, fileHash;
  uint32_t newPack = UINT32_MAX;
  uint64_t packBytes = 0;
  uint32_t crcRegister = 0xFFFFFFFFu;
  std::vector<uint8_t> compressed;
  const bool read = ChunkStream(
      [&](uint8_t* buffer, size_t capacity) -> long long {
        in.read(reinterpret_cast<char*>(buffer), std::streamsize(capacity));
        if (in.bad()) return -1;
        return in.gcount();
      },
      [&](const uint8_t* data, size_t length, uint64_t) {
        crcRegister = Crc32Update(crcRegister, data, length);
        fileHash.Update(data, length);
        ChunkRef ref;
        ref.digest = Sha256Of(std::string_view(reinterpret_cast<const char*>(data), length));
        ref.size = uint32_t(length);
        if (auto seen = inThisFile.find(ref.digest); seen != inThisFile.end()) {
          index.chunks.push_back(seen->second);
          return true;
        }
        if (auto k = known_.find(ref.digest); k != known_.end()) {
          auto [slot, added] = packSlot.try_emplace(k->second.pack.digest,
                                                    uint32_t(index.packs.size()));
          if (added) index.packs.push_back(k->second.pack);
          ref.pack = slot->second;
          ref.offset = k->second.offset;
          ref.storedSize = k->second.storedSize;
        } else {
          if (newPack == UINT32_MAX) {
            pack.open(packTemp, std::ios::binary | std::ios::trunc);
            newPack = uint32_t(index.packs.size());
            index.packs.push_back({});
          }
          const size_t packed = LzoCompressRaw(data, length, level, compressed);
          const bool shorter = packed < length;
          const char* stored = reinterpret_cast<const char*>(shorter ? compressed.data() : data);
          ref.storedSize = uint32_t(shorter ? packed : length);
          ref.pack = newPack;
          ref.offset = packBytes;
          pack.write(stored, std::streamsize(ref.storedSize));
          packHash.Update(stored, ref.storedSize);
          packBytes += ref.storedSize;
          if (!pack) return false;
        }
        inThisFile.emplace(ref.digest, ref);
        index.chunks.push_back(ref);
        return true;
      });
  std::error_code e;
  if (!read || (pack.is_open() && !pack.flush())) {
    fs::remove(packTemp, e);
    error = "cannot cut " + path + " into chunks";
    return false;
  }
  index.fileSize = 0;
  for (const ChunkRef& c : index.chunks) index.fileSize += c.size;
  index.fileCrc = ~crcRegister;
  index.fileDigest = fileHash.Finish();
  if (index.fileSize != size || index.fileCrc != crc) {
    fs::remove(packTemp, e);
    error = path + " changed while it was read";
    return false;
  }
  if (newPack != UINT32_MAX) {
    pack.close();
    index.packs[newPack] = {packHash.Finish(), packBytes};
    // The same bytes under the same name: a pack already there is that pack.
    const fs::path named = folder_ / PackObjectName(index.packs[newPack].digest);
    fs::rename(packTemp, named, e);
    if (e) {
      fs::remove(packTemp, e);
      error = "cannot write " + PackObjectName(index.packs[newPack].digest);
      return false;
    }
  }
  const std::string bytes = FormatChunkIndex(index);
  out = ChunkedFile{path, crc, size, lzSize, ReleaseObjectOf(bytes)};
  if (!WriteObject(folder_ / IndexObjectName(out.index.digest), bytes)) {
    error = "cannot write " + IndexObjectName(out.index.digest);
    return false;
  }
  return true;
}

size_t RemoveUnusedChunkObjects(const fs::path& out, std::ostream& err) {
  const fs::path store = out / kChunkStoreFolder;
  std::error_code e;
  if (!fs::is_directory(store, e)) return 0;
  std::vector<fs::path> releases = {out};
  for (const PublishedVersion& v : ListVersions(out)) releases.push_back(out / PathFromUtf8(v.name));
  std::set<std::string> used;
  for (const fs::path& release : releases) {
    ChunkList list;
    if (!ReadChunkList(release, list)) continue;
    for (const ChunkedFile& f : list.files) {
      used.insert(IndexObjectName(f.index.digest));
      ChunkIndex index;
      if (!ReadChunkIndexObject(store, f.index, index)) {
        // Unreadable: keep everything rather than guess what it needs.
        err << "warning: cannot read the chunk index of " << f.path << "; no chunk was removed\n";
        return 0;
      }
      for (const ReleaseObject& pack : index.packs) used.insert(PackObjectName(pack.digest));
    }
  }
  size_t removed = 0;
  std::vector<fs::path> unused;
  for (fs::directory_iterator it(store, e), end; !e && it != end; it.increment(e)) {
    std::string name;
    Utf8FromPath(it->path().filename(), name);
    if (!used.count(name)) unused.push_back(it->path());
  }
  for (const fs::path& p : unused) removed += fs::remove(p, e) ? 1 : 0;
  return removed;
}

}  // namespace sv
