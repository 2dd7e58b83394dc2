#pragma once
// Signing a published release: the ".lz" objects named in each list by SHA-256, and the signed
// manifest beside the configuration that names the configuration, every list and the new
// patcher. The manifest is written last, after the configuration, so a patcher that reads the two
// across a publish sees a pair that does not match and reads them again.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "publisher/release_files.h"
#include "release/release_key.h"

namespace sv {

constexpr int64_t kDefaultReleaseLifetime = 30 * 86400;

struct SigningOptions {
  std::filesystem::path key;            // the private key (PEM, PKCS#8)
  int64_t lifetime = kDefaultReleaseLifetime;  // seconds until the manifest expires
  std::optional<ReleaseKey> nextKey;    // announced for the releases to come
  uint64_t release = 0;                 // 0: one above the manifest published before
};

// "30d", "12h", "90m", "45s": a whole number and its unit; false otherwise.
bool ParseReleaseAge(const std::string& text, int64_t& seconds);

// Reads a public key file (PEM); false with a line naming the file and the reason.
bool ReadPublicKeyFile(const std::filesystem::path& path, ReleaseKey& key, std::string& error);
// Reads the private key; false with a line naming the file and the reason.
bool ReadPrivateKeyFile(const std::filesystem::path& path, std::string& pem, std::string& error);

// One download source of a configuration: the text the manifest names it by, and the list that
// serves it in an output folder (the folder of its crcversion, or the output folder itself).
struct SignedSource {
  std::string url;
  std::filesystem::path list;
};
// The sources in the patcher's order; false with the reason.
bool ReleaseSourcesOf(const std::string& configText, const std::filesystem::path& out,
                      std::vector<SignedSource>& sources, std::string& error);

// `SarvikPublish keygen`: the private key at `path` (owner-only, never over an existing file)
// and the public one beside it as `path` + ".pub".
bool WriteNewKeyPair(const std::filesystem::path& path, std::ostream& out, std::ostream& err);

// Fills the object of every listed file that has none yet from its ".lz" below `release`, on
// `jobs` threads (the files kept from an earlier build; fresh ones were hashed as written).
bool HashListedObjects(const std::filesystem::path& release, std::vector<ListedFile>& listed,
                       unsigned jobs, std::ostream& err);

// What can be checked before a build writes anything: the key reads and signs, the release
// number goes up.
bool SigningReady(const std::filesystem::path& out, const SigningOptions& options,
                  std::ostream& err);

// Writes OUT/sarvik.release for the configuration in `out` and the lists it names. With
// `configDir` (a staged version's folder) the configuration read and the manifest written are
// those in that folder, the lists still those below `out`.
bool SignPublishedRelease(const std::filesystem::path& out, const SigningOptions& options,
                          std::ostream& report, std::ostream& err,
                          const std::filesystem::path& configDir = {});

}  // namespace sv
