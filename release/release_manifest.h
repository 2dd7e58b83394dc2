#pragma once
// The signed release manifest, published beside the configuration document. It names the
// release's number, its expiry and the SHA-256 and size of the configuration, of the file list
// of every download source and of the new patcher; each list line in turn carries the SHA-256
// and size of its ".lz" object, so the one signature covers every byte a patcher installs or
// starts. docs/signed-releases.md describes the format for other tools.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "release/release_key.h"
#include "release/sha256.h"

namespace sv {

constexpr char kReleaseManifestName[] = "sarvik.release";
constexpr uint64_t kReleaseManifestLimit = 1048576;  // a manifest is small; more is an attack

struct ReleaseObject {
  Sha256Digest digest{};
  uint64_t size = 0;
  bool operator==(const ReleaseObject&) const = default;
};

ReleaseObject ReleaseObjectOf(std::string_view bytes);

struct ReleaseManifest {
  uint64_t release = 0;                       // higher for every release of the same game
  int64_t expires = 0;                        // seconds since 1970, UTC
  ReleaseObject config;
  std::map<std::string, ReleaseObject> lists; // by download source URL as the configuration gives it
  std::optional<ReleaseObject> patcher;       // the file at sv_patcher_url
  std::optional<ReleaseKey> nextKey;          // the key of the releases to come
};

// The signed part: everything up to the signature line.
std::string FormatManifestBody(const ReleaseManifest& manifest);
std::string FormatSignedManifest(const std::string& body, const ReleaseSignature& signature);

// Splits a signed manifest into its body (the signed bytes), its parsed fields and its
// signature; false with the reason when it is not a manifest of this format.
bool ParseSignedManifest(std::string_view text, ReleaseManifest& manifest, std::string_view& body,
                         ReleaseSignature& signature, std::string& error);

// "2026-12-24T18:00:00Z".
std::string FormatUtcTime(int64_t seconds);
bool ParseUtcTime(std::string_view text, int64_t& seconds);

}  // namespace sv
