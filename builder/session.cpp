#include "builder/session.h"

#include <algorithm>

#include "common/file.h"
#include "common/file_os.h"
#include "common/path.h"
#include "common/text.h"

namespace sv {

std::map<std::string, std::string> ParseSessionText(std::string_view text) {
  std::map<std::string, std::string> values;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == ';') continue;
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    values[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
  }
  return values;
}

std::wstring BuilderSession::text(const std::string& key) const {
  auto it = values.find(key);
  return it == values.end() ? std::wstring() : toWide(it->second);
}

void ApplySessionBehaviour(const BuilderSession& session, int32_t& connections, bool& closeOnStart,
                           bool& autoStart, bool& allowError, bool& browserEmulation) {
  if (session.has("conn")) {
    const int32_t conn = parseInt32(session.values.at("conn"), 0);
    if (conn >= PatcherSettings::kMinConnections && conn <= PatcherSettings::kMaxConnections) connections = conn;
  }
  auto flag = [&session](const char* key, bool& target) {
    if (session.has(key)) target = session.values.at(key) == "1";
  };
  flag("close_on_start", closeOnStart);
  flag("auto_start", autoStart);
  flag("allow_error", allowError);
  flag("browser_emu", browserEmulation);
}

std::map<std::string, std::wstring> SessionLinks(const BuilderSession& session, const std::vector<ButtonLink>& links) {
  std::map<std::string, std::wstring> values;
  std::map<std::string, const ButtonLink*> byKey;
  for (const ButtonLink& link : links) byKey.emplace(link.key, &link);
  for (const ButtonLink& link : links) {
    if (session.has(link.key)) values.emplace(link.key, session.text(link.key));
  }
  for (const auto& [key, value] : session.values) {
    if (key.rfind("link.", 0) != 0 || key.size() == 5 || byKey.count(key)) continue;
    if (key.find_first_not_of("0123456789", 5) != std::string::npos) continue;
    int64_t index = -1;
    if (!parseInt64(key.substr(5), index)) continue;
    for (const ButtonLink& link : links) {
      if (link.controlIndex == index) {
        values.emplace(link.key, toWide(value));  // the link's own key, when present, came first
        break;
      }
    }
  }
  return values;
}

SkinFields SessionFields(const SkinImport& skin, const BuilderSession& session) {
  SkinFields fields = skin.ImportedFields();
  if (session.has("config_url")) fields.configUrl = session.text("config_url");
  if (session.has("iframe_url")) fields.newsUrl = session.text("iframe_url");
  if (session.has("feed_url")) fields.feedUrl = session.text("feed_url");
  PatcherSettings& s = fields.settings;
  if (session.has("title")) s.title = trim(session.text("title"));
  ApplySessionBehaviour(session, s.connections, s.closeOnStart, s.autoStart, s.allowStartOnError,
                        s.browserEmulation);
  if (session.has("seg")) {
    int32_t seg = parseInt32(session.values.at("seg"), s.segmentMb);
    if (seg < 1) seg = 1;
    if (seg > PatcherSettings::kMaxSegmentMb) seg = PatcherSettings::kMaxSegmentMb;
    s.segmentMb = seg;
  }
  if (session.has("max_kbps")) {
    const int32_t kbps = parseInt32(session.values.at("max_kbps"), s.maxKbps);
    s.maxKbps = std::clamp(kbps, 0, PatcherSettings::kMaxMaxKbps);
  }
  if (session.has("run_args")) s.runArgs = session.text("run_args");
  for (const auto& [key, url] : SessionLinks(session, skin.links)) {
    if (IsLinkKey(key)) fields.linkUrls[key] = url;
  }
  return fields;
}

VersionFields SessionVersion(const BuilderSession& session, const std::wstring& outputPath) {
  VersionFields v;
  const std::wstring title = trim(session.text("title"));
  v.productName = session.text("v_product");
  if (v.productName.empty()) v.productName = title;
  v.company = session.text("v_company");
  v.fileDescription = title;
  v.version = session.text("v_version");
  v.copyright = session.text("v_copyright");
  v.originalFileName = session.text("out_name");
  if (v.originalFileName.empty()) v.originalFileName = fileName(outputPath);
  return v;
}

std::wstring CheckBuildStart(const std::wstring& templatePath, const std::wstring& outputPath, bool sign,
                             const std::wstring& pfxPath) {
  if (!isFile(templatePath))
    return L"Patcher şablonu bulunamadı: " + templatePath + L" — build.bat ile derleyin.";
  if (outputPath.empty()) return L"Çıktı dosyası seçilmedi.";
  if (outputPath.size() < 4 || !equalsNoCase(std::wstring_view(outputPath).substr(outputPath.size() - 4), L".exe"))
    return L"Çıktı dosyası .exe ile bitmeli.";
  const std::wstring folder = parentPath(outputPath);
  if (!folder.empty() && !isDirectory(folder)) return L"Çıktı klasörü bulunamadı: " + folder;
  // The build would replace the template with its own copy and leave no template behind.
  if (os::sameFile(outputPath, templatePath))
    return L"Çıktı dosyası patcher şablonunun kendisi olamaz: " + outputPath;
  if (sign && trim(pfxPath).empty()) return L"İmza açık ama sertifika (.pfx) seçilmedi.";
  if (sign && !isFile(trim(pfxPath))) return L"Sertifika dosyası bulunamadı: " + trim(pfxPath);
  return {};
}

}  // namespace sv
