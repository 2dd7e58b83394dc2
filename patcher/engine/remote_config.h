#pragma once
// The remote configuration: the small XML document ("draskeltorrent.config.xml") through which the
// game operator steers every patcher, and the local file that remembers the accepted notice.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

constexpr int32_t kDefaultNoticeWidth = 680;
constexpr int32_t kDefaultNoticeHeight = 500;
constexpr size_t kRemoteConfigLimit = 1048576;
constexpr wchar_t kDefaultLocalConfigName[] = L"draskeltorrent.config.xml";

// The release that goes live next (sv_next): patchers fetch what it needs ahead of its day.
struct NextRelease {
  std::wstring configUrl;  // its own configuration document
  int64_t at = 0;          // go-live time, seconds since 1970-01-01 UTC
};

struct RemoteConfig {
  std::wstring primaryPatchUrl;      // first usable crcpatch_url, or the configuration folder
  std::wstring primaryPatchVersion;  // its crcversion; empty with the folder
  std::wstring runPath;              // program to start, relative to the game folder
  std::vector<std::wstring> sources;  // download base URLs, each ending in '/', no duplicates
  // The sources whose version folder the release marks immutable: their lists may come from a
  // cache on the way, so they are fetched without the cache-busting query.
  std::vector<std::wstring> immutableSources;
  // Further bases carrying a source's release (its sv_mirror children), by source: they stand in
  // for the source's files and chunks, never for its lists, which decide what is trusted.
  std::map<std::wstring, std::vector<std::wstring>> mirrors;
  int32_t noticeVersion = 0;
  std::wstring noticeUrl;            // empty: no notice
  int32_t noticeWidth = kDefaultNoticeWidth;
  int32_t noticeHeight = kDefaultNoticeHeight;
  std::wstring patcherUrl;           // empty: no self-update
  uint32_t patcherCrc = 0;
  bool patcherCrcValid = false;      // self-update is refused without a valid CRC
  int32_t connections = 0;           // > 0 replaces the skin's connection count
  int32_t maxKbps = 0;               // sv_max_kbps: > 0 lowers the builder's bandwidth limit
  std::optional<NextRelease> next;   // none when not announced or malformed
  bool loaded = false;
};

// Parses a fetched document (any text encoding the decoder knows). configUrl is the address it was
// fetched from (before the cache-busting query); its folder becomes the only source when no
// foreground_patch names one. noDownloadUrlText is the locale text for SV_NO_DOWNLOAD_URL.
// On success fills configOut (loaded set) and logs it; on failure leaves configOut alone and sets
// errorOut to the reason, which the caller puts behind its SV_INVALID_CONFIG text.
bool ParseRemoteConfig(std::string_view bytes, std::wstring_view configUrl,
                       std::wstring_view noDownloadUrlText, RemoteConfig& configOut,
                       std::wstring& errorOut);

// True when `source` (one of config.sources) names a version folder marked immutable.
bool IsImmutableSource(const RemoteConfig& config, const std::wstring& source);

// The local notice file: localConfigPath inside the game folder when it is a safe relative path,
// else kDefaultLocalConfigName.
std::wstring LocalNoticePath(const std::wstring& gameFolder, const std::wstring& localConfigPath);
// notice_ver of the local notice file; 0 when it is missing, too large or not XML.
int32_t LocalNoticeVersion(const std::wstring& gameFolder, const std::wstring& localConfigPath);
// Replaces the local notice file; a failure only costs showing the notice once more.
void SaveNoticeVersion(const std::wstring& gameFolder, const std::wstring& localConfigPath,
                       int32_t version);

}  // namespace sv
