#pragma once
// The places one run fetches files and chunks from: every source and the mirrors the
// configuration names for it. Each attempt goes to the mirror that promises to be done first, as
// measured so far; a mirror that fails is left for the rest of the run while another mirror of its
// source is still in use. Not thread-safe: the engine calls it under its lock.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

struct RemoteConfig;

struct Mirror {
  std::wstring base;    // ends in '/'
  std::wstring source;  // the source it stands in for (the source is its own first mirror)
  bool left = false;
  std::wstring whyLeft;
  uint64_t served = 0;  // bytes of the attempts that brought what was asked
  double rate = 0;      // bytes per second of one connection; 0 until measured
  int32_t inFlight = 0;
  int32_t attempts = 0;
};

class MirrorSet {
 public:
  void Reset(const RemoteConfig& config);

  // The mirror for the next attempt on a file of `source`: one not tried yet, else the fastest
  // per connection for its load. `avoid` is taken only when nothing else is left. -1 when the
  // source is unknown (the caller keeps its own address).
  int32_t Pick(const std::wstring& source, int32_t avoid = -1) const;
  // The source's mirrors that are still in use, the fastest first.
  std::vector<int32_t> InUse(const std::wstring& source) const;
  const Mirror& at(int32_t id) const { return mirrors_[size_t(id)]; }
  bool HasMirrors() const { return mirrors_.size() > sources_; }

  void Begin(int32_t id);
  // An attempt ended: `bytes` in `elapsedMs`. served: it brought what was asked; measured: its
  // pace tells the mirror's speed (a completed or cut-off transfer, not a refusal).
  void End(int32_t id, uint64_t bytes, uint32_t elapsedMs, bool served, bool measured);
  // Leaves `id` for the rest of the run unless it is the last of its source; true when left.
  bool Leave(int32_t id, const std::wstring& why);
  // A mirror of the same source that would finish the `remaining` bytes of an attempt on `id`
  // (so far `bytes` in `elapsedMs`) clearly sooner than `id` itself, or -1.
  int32_t FasterElsewhere(int32_t id, uint64_t bytes, uint32_t elapsedMs,
                          uint64_t remaining) const;

  // One line per mirror: the bytes it served and why it was left.
  std::vector<std::wstring> Report() const;

 private:
  size_t sources_ = 0;
  std::vector<Mirror> mirrors_;
};

}  // namespace sv
