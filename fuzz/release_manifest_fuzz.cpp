// Reads arbitrary bytes as a signed release manifest and as the trust state: whatever the manifest
// parser takes, written again, is the same body; the trust state round-trips too.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "patcher/engine/release_trust.h"
#include "release/release_manifest.h"

using sv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(sv::fuzz::Bytes(data, size));
  sv::ReleaseManifest manifest;
  std::string_view body;
  sv::ReleaseSignature signature;
  std::string error;
  if (sv::ParseSignedManifest(text, manifest, body, signature, error)) {
    const std::string again = sv::FormatManifestBody(manifest);
    sv::ReleaseManifest reread;
    std::string_view rereadBody;
    Check(sv::ParseSignedManifest(sv::FormatSignedManifest(again, signature), reread, rereadBody,
                                  signature, error));
    Check(sv::FormatManifestBody(reread) == again);
  }
  const sv::TrustState trust = sv::ParseTrustState(text);
  const sv::TrustState back = sv::ParseTrustState(sv::FormatTrustState(trust));
  Check(back.release == trust.release && back.keys == trust.keys);
  return 0;
}
