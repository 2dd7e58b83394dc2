#pragma once
// A signed object's SHA-256, taken while the object downloads: whichever worker finishes a
// segment hashes every finished segment after the point reached so far, reading them back from
// the ".part" file (just written, so from the system's cache). The check before decoding then
// has little or nothing left to read, and the hashing runs beside the other connections' work.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "release/sha256.h"

namespace sv {

class ObjectHashCursor {
 public:
  // Hashes on through the run of finished segments (`done`, one flag per segment of
  // `segmentSize` bytes, `total` in all) that begins where the hash stands. Returns at once when
  // another worker is hashing: the next call, or Finish, takes what it leaves.
  void Advance(const std::wstring& partPath, const std::vector<uint8_t>& done,
               uint64_t segmentSize, uint64_t total);
  // Hashes the rest of the file; the digest and the number of bytes hashed. False when the file
  // cannot be read.
  bool Finish(const std::wstring& partPath, Sha256Digest& digest, uint64_t& size);

 private:
  // From `hashed_` up to `end` (to the file's end when `toEnd`).
  bool HashUpTo(const std::wstring& partPath, uint64_t end, bool toEnd);

  std::mutex busy_;
  Sha256 hash_;
  uint64_t hashed_ = 0;
  bool failed_ = false;
};

}  // namespace sv
