#include "patcher/engine/mirror_set.h"

#include "common/text.h"
#include "patcher/engine/remote_config.h"

namespace sv {

namespace {

// Transfers shorter than this say more about the request's round trip than about the mirror.
constexpr uint64_t kMeasuredBytes = 65536;
// How long a cut-off attempt must have run before its pace counts against it.
constexpr uint32_t kJudgedAfterMs = 300;
// What a new request costs before its first byte, and by how much another mirror must win.
constexpr double kNewRequestSeconds = 1.0;
constexpr double kMoveFactor = 2.0;

double Score(const Mirror& mirror) { return mirror.rate / (1 + mirror.inFlight); }

}  // namespace

void MirrorSet::Reset(const RemoteConfig& config) {
  mirrors_.clear();
  sources_ = config.sources.size();
  for (const std::wstring& source : config.sources) {
    Mirror own;
    own.base = source;
    own.source = source;
    mirrors_.push_back(own);
  }
  for (const std::wstring& source : config.sources) {
    const auto found = config.mirrors.find(source);
    if (found == config.mirrors.end()) continue;
    for (const std::wstring& base : found->second) {
      Mirror mirror;
      mirror.base = base;
      mirror.source = source;
      mirrors_.push_back(mirror);
    }
  }
}

int32_t MirrorSet::Pick(const std::wstring& source, int32_t avoid) const {
  int32_t best = -1, fallback = -1;
  for (size_t i = 0; i < mirrors_.size(); ++i) {
    const Mirror& m = mirrors_[i];
    if (m.source != source || m.left) continue;
    if (int32_t(i) == avoid) {
      fallback = avoid;
      continue;
    }
    if (m.attempts == 0 && m.inFlight == 0) return int32_t(i);
    if (best < 0) {
      best = int32_t(i);
      continue;
    }
    const Mirror& b = mirrors_[size_t(best)];
    // Unmeasured mirrors share the load evenly until their first transfers end.
    if (Score(m) > Score(b) || (Score(m) == Score(b) && m.inFlight < b.inFlight)) {
      best = int32_t(i);
    }
  }
  return best >= 0 ? best : fallback;
}

std::vector<int32_t> MirrorSet::InUse(const std::wstring& source) const {
  std::vector<int32_t> ids;
  for (size_t i = 0; i < mirrors_.size(); ++i) {
    if (mirrors_[i].source != source || mirrors_[i].left) continue;
    size_t at = ids.size();
    while (at > 0 && mirrors_[size_t(ids[at - 1])].rate < mirrors_[i].rate) --at;
    ids.insert(ids.begin() + std::ptrdiff_t(at), int32_t(i));
  }
  return ids;
}

void MirrorSet::Begin(int32_t id) { ++mirrors_[size_t(id)].inFlight; }

void MirrorSet::End(int32_t id, uint64_t bytes, uint32_t elapsedMs, bool served, bool measured) {
  Mirror& m = mirrors_[size_t(id)];
  --m.inFlight;
  ++m.attempts;
  if (served) m.served += bytes;
  if (!measured || elapsedMs == 0 || (bytes < kMeasuredBytes && m.rate > 0)) return;
  const double rate = double(bytes) * 1000.0 / elapsedMs;
  m.rate = m.rate > 0 ? (m.rate + rate) / 2 : rate;
}

bool MirrorSet::Leave(int32_t id, const std::wstring& why) {
  Mirror& m = mirrors_[size_t(id)];
  if (m.left) return false;
  for (size_t i = 0; i < mirrors_.size(); ++i) {
    if (int32_t(i) == id || mirrors_[i].left || mirrors_[i].source != m.source) continue;
    m.left = true;
    m.whyLeft = why;
    for (wchar_t& c : m.whyLeft) c = c == L'\n' ? L' ' : c;  // one log line
    return true;
  }
  return false;
}

int32_t MirrorSet::FasterElsewhere(int32_t id, uint64_t bytes, uint32_t elapsedMs,
                                   uint64_t remaining) const {
  if (elapsedMs < kJudgedAfterMs || remaining == 0) return -1;
  const Mirror& own = mirrors_[size_t(id)];
  int32_t best = -1;
  for (size_t i = 0; i < mirrors_.size(); ++i) {
    const Mirror& m = mirrors_[i];
    if (int32_t(i) == id || m.left || m.source != own.source || m.rate <= 0) continue;
    if (best < 0 || m.rate > mirrors_[size_t(best)].rate) best = int32_t(i);
  }
  if (best < 0) return -1;
  const double ownRate = bytes > 0 ? double(bytes) * 1000.0 / elapsedMs : 1.0;
  const double ownSeconds = double(remaining) / ownRate;
  const double otherSeconds = double(remaining) / mirrors_[size_t(best)].rate + kNewRequestSeconds;
  return ownSeconds > kMoveFactor * otherSeconds ? best : -1;
}

std::vector<std::wstring> MirrorSet::Report() const {
  std::vector<std::wstring> lines;
  if (!HasMirrors()) return lines;
  for (const Mirror& m : mirrors_) {
    std::wstring line = L"Ayna " + m.base + L": " + formatSize(m.served);
    if (m.left) line += L", birakildi: " + m.whyLeft;
    lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace sv
