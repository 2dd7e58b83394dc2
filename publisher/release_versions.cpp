#include "publisher/release_versions.h"

#include <algorithm>
#include <system_error>

#include "common/text.h"
#include "common/xml.h"
#include "publisher/manifest.h"
#include "publisher/path_convert.h"
#include "publisher/release_files.h"
#include "release/url.h"

namespace sv {

namespace fs = std::filesystem;

namespace {

constexpr size_t kMaxVersionName = 64;
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

// The configuration as the patcher reads it, when the raw bytes are that text (UTF-8, with or
// without a byte order mark) so that edits at its offsets land in the raw bytes too.
bool ParseEditable(const std::string& configText, XmlDocument& doc, size_t& offsetOut,
                   std::string& errorOut) {
  offsetOut = configText.rfind(kUtf8Bom, 0) == 0 ? 3 : 0;
  const std::string body = configText.substr(offsetOut);
  if (decodeTextToUtf8(configText) != body) {
    errorOut = std::string(kConfigName) + " is not UTF-8 text; save it as UTF-8";
    return false;
  }
  std::string xmlError;
  if (!doc.parse(body, xmlError)) {
    errorOut = std::string(kConfigName) + ": " + xmlError;
    return false;
  }
  return true;
}

bool IsSource(const XmlNode& node) {
  return equalsNoCase(node.name, "foreground_patch") && !trim(node.attribute("crcpatch_url")).empty();
}

}  // namespace

std::string VersionNameAt(std::time_t when) {
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &when);
#else
  gmtime_r(&when, &parts);
#endif
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &parts);
  return text;
}

bool IsValidVersionName(const std::string& name) {
  if (name.empty() || name.size() > kMaxVersionName || name[0] == '.') return false;
  if (name.size() >= sizeof kStagingSuffix - 1 &&
      name.compare(name.size() - (sizeof kStagingSuffix - 1), std::string::npos, kStagingSuffix) == 0) {
    return false;
  }
  // A trailing dot is dropped by Windows from a folder name.
  if (name.back() == '.') return false;
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           c == '.' || c == '-' || c == '_';
  });
}

std::vector<PublishedVersion> ListVersions(const fs::path& out) {
  std::vector<PublishedVersion> versions;
  std::error_code error;
  for (fs::directory_iterator it(out, error), end; !error && it != end; it.increment(error)) {
    std::error_code e;
    if (!it->is_directory(e)) continue;
    std::string name;
    if (!Utf8FromPath(it->path().filename(), name) || !IsValidVersionName(name)) continue;
    const fs::path list = it->path() / kFileListName;
    if (!fs::is_regular_file(list, e) || !fs::is_regular_file(it->path() / kManifestName, e)) {
      continue;
    }
    PublishedVersion v{name, fs::last_write_time(list, e)};
    if (!e) versions.push_back(std::move(v));
  }
  std::sort(versions.begin(), versions.end(), [](const auto& a, const auto& b) {
    return a.made != b.made ? a.made < b.made : a.name < b.name;
  });
  return versions;
}

std::vector<std::string> VersionsToRemove(const std::vector<PublishedVersion>& versions,
                                          const std::string& configured, const std::string& before,
                                          size_t keep) {
  std::vector<std::string> remove;
  const size_t older = versions.size() > keep ? versions.size() - keep : 0;
  for (size_t i = 0; i < older; ++i) {
    if (versions[i].name != configured && versions[i].name != before) {
      remove.push_back(versions[i].name);
    }
  }
  return remove;
}

bool ConfiguredVersion(const std::string& configText, std::string& versionOut,
                       std::string& errorOut) {
  XmlDocument doc;
  size_t offset = 0;
  if (!ParseEditable(configText, doc, offset, errorOut)) return false;
  versionOut.clear();
  for (const XmlNode& child : doc.children) {
    if (!IsSource(child)) continue;
    versionOut = trim(child.attribute("crcversion"));
    // Written with a trailing slash it names the same folder.
    while (!versionOut.empty() && versionOut.back() == '/') versionOut.pop_back();
    return true;
  }
  return true;
}

bool SetConfiguredVersion(const std::string& configText, const std::string& version,
                          std::string& textOut, std::string& errorOut) {
  XmlDocument doc;
  size_t offset = 0;
  if (!ParseEditable(configText, doc, offset, errorOut)) return false;
  if (!equalsNoCase(doc.name, "torrent_config")) {
    errorOut = std::string(kConfigName) + " has no torrent_config element";
    return false;
  }
  XmlEditor editor(configText);
  const std::string value = escapeAttribute(version);
  for (const XmlNode& child : doc.children) {
    if (!IsSource(child)) continue;
    uint32_t behindVersion = uint32_t(offset + child.start + 1 + child.name.size());
    if (const XmlAttribute* a = child.findAttribute("crcversion")) {
      editor.replace(uint32_t(offset + a->valueStart), uint32_t(offset + a->valueEnd), value);
      behindVersion = uint32_t(offset + a->valueEnd + 1);
    } else {
      editor.replace(behindVersion, behindVersion, " crcversion=\"" + value + "\"");
    }
    // A version folder is written once; an operator's own value of the mark stays.
    if (!child.findAttribute(kImmutableVersionAttribute)) {
      editor.replace(behindVersion, behindVersion,
                     std::string(" ") + kImmutableVersionAttribute + "=\"1\"");
    }
  }
  if (editor.edits.empty()) {
    errorOut = std::string(kConfigName) +
               " names no download source (foreground_patch with crcpatch_url) whose "
               "crcversion could name the release";
    return false;
  }
  textOut = editor.apply();
  return true;
}

namespace {

bool IsNext(const XmlNode& node) { return equalsNoCase(node.name, "sv_next"); }

// [start, end) of an element together with the indentation and line break around it, so that
// removing it leaves no empty line.
void WholeLines(const std::string& text, size_t& start, size_t& end) {
  size_t s = start;
  while (s > 0 && (text[s - 1] == ' ' || text[s - 1] == '\t')) --s;
  size_t e = end;
  while (e < text.size() && (text[e] == ' ' || text[e] == '\t' || text[e] == '\r')) ++e;
  if ((s == 0 || text[s - 1] == '\n') && e < text.size() && text[e] == '\n') {
    start = s;
    end = e + 1;
  }
}

}  // namespace

bool SetNextRelease(const std::string& configText, const std::string& configUrl,
                    const std::string& at, std::string& textOut, std::string& errorOut) {
  XmlDocument doc;
  size_t offset = 0;
  if (!ParseEditable(configText, doc, offset, errorOut)) return false;
  if (!equalsNoCase(doc.name, "torrent_config") || doc.contentEnd == kXmlNoPosition) {
    errorOut = std::string(kConfigName) + " has no torrent_config element with a download source";
    return false;
  }
  const std::string element = configUrl.empty() ? std::string()
                                                : "<sv_next config_url=\"" +
                                                      escapeAttribute(configUrl) + "\" at=\"" +
                                                      escapeAttribute(at) + "\"/>";
  XmlEditor editor(configText);
  bool placed = element.empty();
  for (const XmlNode& child : doc.children) {
    if (!IsNext(child)) continue;
    size_t start = offset + child.start, end = offset + child.end;
    if (!placed) {
      editor.replace(uint32_t(start), uint32_t(end), element);
      placed = true;
      continue;
    }
    WholeLines(configText, start, end);
    editor.replace(uint32_t(start), uint32_t(end), "");
  }
  if (!placed) {
    const size_t close = offset + doc.contentEnd;
    editor.replace(uint32_t(close), uint32_t(close), "  " + element + "\n");
  }
  textOut = editor.apply();
  return true;
}

std::string AnnouncedVersion(const std::string& configText) {
  XmlDocument doc;
  size_t offset = 0;
  std::string ignored;
  if (!ParseEditable(configText, doc, offset, ignored)) return {};
  for (const XmlNode& child : doc.children) {
    if (!IsNext(child)) continue;
    std::string url = trim(child.attribute("config_url"));
    url = url.substr(0, url.find_first_of("?#"));
    const size_t file = url.rfind('/');
    if (file == std::string::npos || file == 0) return {};
    const size_t folder = url.rfind('/', file - 1);
    return folder == std::string::npos ? std::string() : url.substr(folder + 1, file - folder - 1);
  }
  return {};
}

bool VersionConfigUrl(const std::string& configText, const std::string& version,
                      std::string& urlOut, std::string& errorOut) {
  XmlDocument doc;
  size_t offset = 0;
  if (!ParseEditable(configText, doc, offset, errorOut)) return false;
  for (const XmlNode& child : doc.children) {
    if (!IsSource(child)) continue;
    std::string base = trim(child.attribute("crcpatch_url"));
    if (base.back() != '/') base += '/';
    urlOut = base + percentEncodePath(version) + "/" + kConfigName;
    return true;
  }
  errorOut = std::string(kConfigName) + " names no download source (foreground_patch with "
             "crcpatch_url) below which the version's configuration lies";
  return false;
}

}  // namespace sv
