#pragma once
// The chunk store of a release folder: content-addressed pack and index objects that every
// version shares. A build cuts each large file into chunks, stores only the chunks no release in
// the store holds yet (in one new pack per file), and writes the file's index; objects are never
// changed once written, so a cache may keep them forever.
#include <cstdint>
#include <filesystem>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "release/chunk_index.h"
#include "release/chunk_list.h"

namespace sv {

constexpr char kChunkStoreFolder[] = "chunks";

// The chunk list of a release folder; false when there is none or it cannot be read.
bool ReadChunkList(const std::filesystem::path& release, ChunkList& listOut);
// The index object a chunk list names, checked against its hash.
bool ReadChunkIndexObject(const std::filesystem::path& store, const ReleaseObject& object,
                          ChunkIndex& indexOut);

class ChunkStore {
 public:
  explicit ChunkStore(std::filesystem::path folder) : folder_(std::move(folder)) {}
  const std::filesystem::path& folder() const { return folder_; }

  // Learns where the chunks of every file of `release`'s chunk list lie (a release without a
  // list teaches nothing). Call before AddFile.
  void Learn(const std::filesystem::path& release);
  // The entry an earlier release has for this very file content, if any.
  const ChunkedFile* Earlier(const std::string& path, uint32_t crc, uint64_t size) const;

  // Cuts `source`, writes its new pack (when it has new chunks) and its index. Safe to call
  // from several threads: the learned map is only read.
  bool AddFile(const std::filesystem::path& source, const std::string& path, uint32_t crc,
               uint64_t size, uint64_t lzSize, int level, ChunkedFile& out,
               std::string& error) const;

 private:
  struct Located {
    ReleaseObject pack;
    uint64_t offset = 0;
    uint32_t storedSize = 0;
  };
  std::filesystem::path folder_;
  std::map<Sha256Digest, Located> known_;
  std::map<std::string, ChunkedFile> earlier_;
};

// Removes the objects of the store below `out` that no chunk list of a release still in `out`
// (the folder itself and its versions) names; returns how many went.
size_t RemoveUnusedChunkObjects(const std::filesystem::path& out, std::ostream& err);

}  // namespace sv
