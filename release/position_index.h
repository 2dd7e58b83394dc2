#pragma once
// An index from hashed keys to positions 0, 1, 2, ... of the caller's own array: for lists of a
// few hundred thousand paths, where a map node and a second copy of every key would cost more
// than the entries themselves. Different keys may share a hash, so a lookup asks the caller to
// confirm a candidate against its array.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace sv {

// FNV-1a over the code units, mixed so that the low bits spread.
uint32_t HashKey(std::wstring_view key);
uint32_t HashKey(std::string_view key);

class PositionIndex {
 public:
  static constexpr size_t kNone = SIZE_MAX;

  // Room for `count` positions without growing.
  void Reserve(size_t count);
  void Clear();
  size_t Size() const { return hashes_.size(); }

  // The first position added under `hash` for which matches(position) is true, else kNone.
  template <class Matches>
  size_t Find(uint32_t hash, Matches&& matches) const {
    if (slots_.empty()) return kNone;
    const size_t mask = slots_.size() - 1;
    for (size_t i = hash & mask; slots_[i] != 0; i = (i + 1) & mask) {
      const size_t position = slots_[i] - 1;
      if (hashes_[position] == hash && matches(position)) return position;
    }
    return kNone;
  }

  // Adds the next position, Size(), under `hash`.
  void Add(uint32_t hash);

 private:
  void Place(uint32_t hash, uint32_t slotValue);
  void Rebuild(size_t slotCount);

  std::vector<uint32_t> hashes_;  // by position
  std::vector<uint32_t> slots_;   // position + 1, 0 for a free slot; a power of two, half full
};

}  // namespace sv
