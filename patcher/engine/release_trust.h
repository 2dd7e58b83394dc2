#pragma once
// What a patcher with the operator's key accepts: a release manifest signed by a key it trusts
// (its own, or one a manifest it accepted announced), not expired by the local clock, not older
// than the highest release this game folder accepted, and naming the configuration's exact bytes.
// The state that makes this hold across runs lives in the work folder beside the CRC cache.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "release/release_manifest.h"

namespace sv {

constexpr wchar_t kTrustFileName[] = L"Sarvik.trust";

struct TrustState {
  uint64_t release = 0;             // the highest release accepted in this game folder
  std::vector<ReleaseKey> keys;     // next keys announced by accepted manifests
};

std::string FormatTrustState(const TrustState& state);
// An unreadable state reads as empty: it only ever loosens what a later manifest must beat.
TrustState ParseTrustState(std::string_view text);

enum class ReleaseRefusal {
  kNone,
  kGarbled,         // not a manifest, or its signature line is damaged
  kWrongKey,        // no trusted key signed it
  kExpired,
  kRollback,        // older than the highest release accepted here
  kConfigMismatch,  // the configuration is not the one it names
};

// Checks `manifestText` against the trusted keys and `configBytes`; on kNone `manifest` holds it.
ReleaseRefusal CheckReleaseManifest(std::string_view manifestText, const ReleaseKey& ownKey,
                                    const TrustState& trust, int64_t now,
                                    std::string_view configBytes, ReleaseManifest& manifest,
                                    std::string& detail);

// The state after `manifest` was accepted.
TrustState AcceptRelease(TrustState state, const ReleaseManifest& manifest);

// The player's text for a refusal (Turkish) and the log's (ASCII).
std::wstring RefusalText(ReleaseRefusal refusal);
const char* RefusalLogName(ReleaseRefusal refusal);

}  // namespace sv
