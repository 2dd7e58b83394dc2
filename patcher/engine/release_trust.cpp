#include "patcher/engine/release_trust.h"

#include <algorithm>
#include <charconv>

namespace sv {

namespace {

constexpr char kMagic[] = "sarvik-trust 1";

}  // namespace

std::string FormatTrustState(const TrustState& state) {
  std::string text = std::string(kMagic) + "\nrelease " + std::to_string(state.release) + "\n";
  for (const ReleaseKey& key : state.keys) text += "key " + ReleaseKeyText(key) + "\n";
  return text;
}

TrustState ParseTrustState(std::string_view text) {
  TrustState state;
  if (text.substr(0, sizeof(kMagic)) != std::string(kMagic) + "\n") return state;
  text.remove_prefix(sizeof(kMagic));
  while (!text.empty()) {
    const size_t end = std::min(text.find('\n'), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    ReleaseKey key;
    if (line.rfind("release ", 0) == 0) {
      const std::string_view value = line.substr(8);
      std::from_chars(value.data(), value.data() + value.size(), state.release);
    } else if (line.rfind("key ", 0) == 0 && ParseReleaseKeyText(line.substr(4), key)) {
      state.keys.push_back(key);
    }
  }
  return state;
}

ReleaseRefusal CheckReleaseManifest(std::string_view manifestText, const ReleaseKey& ownKey,
                                    const TrustState& trust, int64_t now,
                                    std::string_view configBytes, ReleaseManifest& manifest,
                                    std::string& detail) {
  std::string_view body;
  ReleaseSignature signature;
  if (!ParseSignedManifest(manifestText, manifest, body, signature, detail)) {
    return ReleaseRefusal::kGarbled;
  }
  bool trusted = VerifyReleaseSignature(ownKey, body, signature);
  for (size_t i = 0; !trusted && i < trust.keys.size(); ++i) {
    trusted = VerifyReleaseSignature(trust.keys[i], body, signature);
  }
  if (!trusted) {
    detail = "key " + ReleaseKeyId(ownKey) + " and " + std::to_string(trust.keys.size()) +
             " announced key(s) do not verify it";
    return ReleaseRefusal::kWrongKey;
  }
  if (manifest.expires < now) {
    detail = "expired " + FormatUtcTime(manifest.expires) + ", now " + FormatUtcTime(now);
    return ReleaseRefusal::kExpired;
  }
  if (manifest.release < trust.release) {
    detail = "release " + std::to_string(manifest.release) + " < accepted " +
             std::to_string(trust.release);
    return ReleaseRefusal::kRollback;
  }
  if (ReleaseObjectOf(configBytes) != manifest.config) {
    detail = "configuration " + std::to_string(configBytes.size()) + " bytes, manifest names " +
             std::to_string(manifest.config.size);
    return ReleaseRefusal::kConfigMismatch;
  }
  return ReleaseRefusal::kNone;
}

TrustState AcceptRelease(TrustState state, const ReleaseManifest& manifest) {
  state.release = std::max(state.release, manifest.release);
  if (manifest.nextKey &&
      std::find(state.keys.begin(), state.keys.end(), *manifest.nextKey) == state.keys.end()) {
    state.keys.push_back(*manifest.nextKey);
  }
  return state;
}

std::wstring RefusalText(ReleaseRefusal refusal) {
  switch (refusal) {
    case ReleaseRefusal::kGarbled:
      return L"Sürüm imzası okunamadı.";
    case ReleaseRefusal::kWrongKey:
      return L"Sürüm, oyunun anahtarıyla imzalanmamış.";
    case ReleaseRefusal::kExpired:
      return L"Sürüm imzasının süresi dolmuş (bilgisayarın saati doğru mu?).";
    case ReleaseRefusal::kRollback:
      return L"Sunucu, bu klasörün kabul ettiğinden eski bir sürüm veriyor.";
    case ReleaseRefusal::kConfigMismatch:
      return L"Sunucudaki yapılandırma imzalı sürümle uyuşmuyor.";
    case ReleaseRefusal::kNone:
      break;
  }
  return L"";
}

const char* RefusalLogName(ReleaseRefusal refusal) {
  switch (refusal) {
    case ReleaseRefusal::kGarbled: return "garbled";
    case ReleaseRefusal::kWrongKey: return "wrong key";
    case ReleaseRefusal::kExpired: return "expired";
    case ReleaseRefusal::kRollback: return "rollback";
    case ReleaseRefusal::kConfigMismatch: return "configuration mismatch";
    case ReleaseRefusal::kNone: break;
  }
  return "accepted";
}

}  // namespace sv
