#pragma once
// Versioned releases: every build goes into a folder of its own below the output folder, and the
// configuration's `crcversion` names the one patchers download. A patcher that has read a list
// keeps finding the files that list names, whatever is published after it.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace sv {

// Where a versioned build is written before it gets its name: never served, and removed by the
// next build if a build stops half way.
constexpr char kStagingSuffix[] = ".svpart";

// "YYYYMMDD-HHMMSS" in UTC: sorts by time and says when it was made.
std::string VersionNameAt(std::time_t when);
// A name that fits one path segment of a web address and a folder on every system: letters,
// digits, '.', '-' and '_', at most 64, not starting with a dot.
bool IsValidVersionName(const std::string& name);

struct PublishedVersion {
  std::string name;
  std::filesystem::file_time_type made;  // of its crclist
};

// The folders directly below `out` that hold a finished release of this tool (a crclist and a
// manifest), oldest first; ties by name.
std::vector<PublishedVersion> ListVersions(const std::filesystem::path& out);

// The names to remove so that the `keep` newest remain, never `configured` nor `before` (the one
// the configuration named until now, which patchers may still be reading).
std::vector<std::string> VersionsToRemove(const std::vector<PublishedVersion>& versions,
                                          const std::string& configured, const std::string& before,
                                          size_t keep);

// The first `crcversion` of the configuration's download sources; empty when none names one.
bool ConfiguredVersion(const std::string& configText, std::string& versionOut,
                       std::string& errorOut);
// Sets `crcversion` of every download source (a mirror serves the same release) to `version`,
// and marks the source's version folder immutable (kImmutableVersionAttribute) unless the
// source carries that mark already.
// False with a message when the text is not a configuration with a download source this can
// rewrite.
bool SetConfiguredVersion(const std::string& configText, const std::string& version,
                          std::string& textOut, std::string& errorOut);

// The sv_next announcement of the release that goes live next: with a non-empty configUrl the
// first sv_next becomes <sv_next config_url=".." at=".."/> (added when there is none), and every
// other one goes; with an empty configUrl every sv_next goes. False with a message when the text
// is not a configuration.
bool SetNextRelease(const std::string& configText, const std::string& configUrl,
                    const std::string& at, std::string& textOut, std::string& errorOut);
// The version the sv_next announcement names (the folder its config_url ends in); empty when
// there is none.
std::string AnnouncedVersion(const std::string& configText);
// Where a version's own configuration lies on the server: its folder below the first download
// source's crcpatch_url, then kConfigName. False with a message when there is no source.
bool VersionConfigUrl(const std::string& configText, const std::string& version,
                      std::string& urlOut, std::string& errorOut);

}  // namespace sv
