#include "release/position_index.h"

namespace sv {

namespace {

constexpr size_t kMinSlots = 16;

template <class Unit>
uint32_t Fnv1a(const Unit* units, size_t count) {
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < count; ++i) {
    h ^= uint64_t(units[i]);
    h *= 1099511628211ull;
  }
  // The finaliser of MurmurHash3: FNV's low bits alone are weak for a power-of-two table.
  uint32_t x = uint32_t(h ^ (h >> 32));
  x ^= x >> 16;
  x *= 0x85ebca6bu;
  x ^= x >> 13;
  x *= 0xc2b2ae35u;
  x ^= x >> 16;
  return x;
}

// The smallest power of two that keeps `count` positions at most half the slots.
size_t SlotsFor(size_t count) {
  size_t slots = kMinSlots;
  while (slots / 2 < count) slots *= 2;
  return slots;
}

}  // namespace

uint32_t HashKey(std::wstring_view key) { return Fnv1a(key.data(), key.size()); }

uint32_t HashKey(std::string_view key) {
  return Fnv1a(reinterpret_cast<const unsigned char*>(key.data()), key.size());
}

void PositionIndex::Reserve(size_t count) {
  hashes_.reserve(count);
  if (SlotsFor(count) > slots_.size()) Rebuild(SlotsFor(count));
}

void PositionIndex::Clear() {
  std::vector<uint32_t>().swap(hashes_);
  std::vector<uint32_t>().swap(slots_);
}

void PositionIndex::Add(uint32_t hash) {
  if (SlotsFor(hashes_.size() + 1) > slots_.size()) Rebuild(SlotsFor(hashes_.size() + 1) * 2);
  hashes_.push_back(hash);
  Place(hash, uint32_t(hashes_.size()));
}

void PositionIndex::Place(uint32_t hash, uint32_t slotValue) {
  const size_t mask = slots_.size() - 1;
  size_t i = hash & mask;
  while (slots_[i] != 0) i = (i + 1) & mask;
  slots_[i] = slotValue;
}

void PositionIndex::Rebuild(size_t slotCount) {
  std::vector<uint32_t>(slotCount, 0).swap(slots_);
  for (size_t position = 0; position < hashes_.size(); ++position) {
    Place(hashes_[position], uint32_t(position + 1));
  }
}

}  // namespace sv
