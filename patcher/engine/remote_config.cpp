#include "patcher/engine/remote_config.h"

#include <algorithm>

#include "common/text.h"
#include "common/xml.h"
#include "common/crc32.h"
#include "patcher/engine/log.h"
#include "release/release_manifest.h"
#include "release/url.h"

namespace sv {

namespace {

constexpr int32_t kMinNoticeWidth = 200, kMaxNoticeWidth = 4000;
constexpr int32_t kMinNoticeHeight = 150, kMaxNoticeHeight = 3000;

std::wstring WideAttribute(const XmlNode& node, std::string_view name) {
  return trim(toWide(node.attribute(name)));
}

// "http://host/dir/config.xml?x" -> "http://host/dir/"; empty when the URL names no folder.
std::wstring ConfigFolder(std::wstring_view configUrl) { return siblingUrl(configUrl, L""); }

// The source's crcversion applies to each mirror as to crcpatch_url.
void ReadMirrors(const XmlNode& patch, const std::wstring& version, const std::wstring& source,
                 RemoteConfig& config) {
  for (const XmlNode& mirror : patch.children) {
    if (!equalsNoCase(mirror.name, "sv_mirror")) continue;
    const std::wstring url = WideAttribute(mirror, "url");
    if (url.empty()) continue;
    std::wstring base = sourceBaseUrl(url, version);
    std::vector<std::wstring>& bases = config.mirrors[source];
    if (base != source && std::find(bases.begin(), bases.end(), base) == bases.end())
      bases.push_back(std::move(base));
    if (bases.empty()) config.mirrors.erase(source);
  }
}

void ReadSources(const XmlNode& root, RemoteConfig& config) {
  unsigned index = 0;
  for (const XmlNode& child : root.children) {
    ++index;
    if (!equalsNoCase(child.name, "foreground_patch")) continue;
    const std::wstring url = WideAttribute(child, "crcpatch_url");
    const std::wstring version = WideAttribute(child, "crcversion");
    if (url.empty()) {
      Log(L"foreground_patch (%u): crcpatch_url bos, atlandi", index);
      continue;
    }
    if (config.primaryPatchUrl.empty()) {
      config.primaryPatchUrl = url;
      config.primaryPatchVersion = version;
    }
    std::wstring source = sourceBaseUrl(url, version);
    // Only a named version folder can be immutable; the configuration's own folder changes.
    if (!version.empty() && trim(child.attribute(kImmutableVersionAttribute)) == "1" &&
        std::find(config.immutableSources.begin(), config.immutableSources.end(), source) ==
            config.immutableSources.end()) {
      config.immutableSources.push_back(source);
    }
    ReadMirrors(child, version, source, config);
    if (std::find(config.sources.begin(), config.sources.end(), source) == config.sources.end())
      config.sources.push_back(std::move(source));
  }
}

// The first sv_next counts. A malformed one is left out with a log line: the current release must
// still install, and a patcher stages nothing rather than something unnamed.
void ReadNext(const XmlNode& root, RemoteConfig& config) {
  for (const XmlNode& child : root.children) {
    if (!equalsNoCase(child.name, "sv_next")) continue;
    const std::wstring url = WideAttribute(child, "config_url");
    const std::string at = trim(child.attribute("at"));
    int64_t when = 0;
    if (url.rfind(L"http://", 0) != 0 && url.rfind(L"https://", 0) != 0) {
      Log(L"sv_next yok sayildi: config_url gecersiz (%ls)", url.c_str());
    } else if (!ParseUtcTime(at, when)) {
      Log(L"sv_next yok sayildi: at gecersiz (%ls), beklenen 2026-12-24T18:00:00Z",
          toWide(at).c_str());
    } else {
      config.next = NextRelease{url, when};
      Log(L"Sonraki surum duyuruldu: %ls, %ls", url.c_str(), toWide(at).c_str());
    }
    return;
  }
}

int32_t Clamp(int32_t value, int32_t low, int32_t high, int32_t fallback) {
  return value < low || value > high ? fallback : value;
}

}  // namespace

bool IsImmutableSource(const RemoteConfig& config, const std::wstring& source) {
  return std::find(config.immutableSources.begin(), config.immutableSources.end(), source) !=
         config.immutableSources.end();
}

bool ParseRemoteConfig(std::string_view bytes, std::wstring_view configUrl,
                       std::wstring_view noDownloadUrlText, RemoteConfig& configOut,
                       std::wstring& errorOut) {
  const std::string text = decodeTextToUtf8(bytes);
  if (text.find("<torrent_config") == std::string::npos) {
    if (text.find("<html") != std::string::npos || text.find("<!DOCTYPE") != std::string::npos ||
        text.find("<!doctype") != std::string::npos)
      errorOut = L"Sunucu XML yerine HTML sayfası döndürdü (dosya yolu yanlış olabilir).";
    else
      errorOut = L"draskeltorrent.config.xml beklenen biçimde değil.";
    return false;
  }
  XmlDocument doc;
  std::wstring xmlError;
  if (!doc.parse(text, &xmlError)) {
    errorOut = L"XML hatası: " + xmlError;
    return false;
  }

  RemoteConfig config;
  config.runPath = WideAttribute(doc, "run_path");
  config.noticeVersion = doc.attributeInt("notice_ver", 0);
  config.noticeUrl = WideAttribute(doc, "notice_url");
  config.noticeWidth = doc.attributeInt("notice_width", kDefaultNoticeWidth);
  config.noticeHeight = doc.attributeInt("notice_height", kDefaultNoticeHeight);
  config.patcherUrl = WideAttribute(doc, "sv_patcher_url");
  config.patcherCrcValid = ParseHex32(trim(doc.attribute("sv_patcher_crc32")), config.patcherCrc);
  if (!config.patcherCrcValid) config.patcherCrc = 0;
  config.connections = doc.attributeInt("sv_connections", 0);
  config.maxKbps = doc.attributeInt("sv_max_kbps", 0);

  ReadSources(doc, config);
  ReadNext(doc, config);
  if (config.sources.empty()) {
    config.primaryPatchUrl = ConfigFolder(configUrl);
    config.primaryPatchVersion.clear();
    if (!config.primaryPatchUrl.empty()) config.sources.push_back(config.primaryPatchUrl);
    Log(L"foreground_patch yok; config klasoru kullaniliyor: %ls", config.primaryPatchUrl.c_str());
    if (config.sources.empty()) {
      errorOut = std::wstring(noDownloadUrlText);
      return false;
    }
  }
  config.noticeWidth =
      Clamp(config.noticeWidth, kMinNoticeWidth, kMaxNoticeWidth, kDefaultNoticeWidth);
  config.noticeHeight =
      Clamp(config.noticeHeight, kMinNoticeHeight, kMaxNoticeHeight, kDefaultNoticeHeight);
  config.loaded = true;

  Log(L"Config: %u kaynak, run_path=%ls notice_ver=%d", unsigned(config.sources.size()),
      config.runPath.c_str(), config.noticeVersion);
  for (size_t i = 0; i < config.sources.size(); ++i) {
    const bool immutable = IsImmutableSource(config, config.sources[i]);
    Log(L"  kaynak %u: %ls%ls", unsigned(i + 1), config.sources[i].c_str(),
        immutable ? L" (degismez surum)" : L"");
    const auto mirrors = config.mirrors.find(config.sources[i]);
    if (mirrors == config.mirrors.end()) continue;
    for (const std::wstring& mirror : mirrors->second) Log(L"    ayna: %ls", mirror.c_str());
  }
  configOut = std::move(config);
  return true;
}

}  // namespace sv
