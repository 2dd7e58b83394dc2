#include "builder/skin_import.h"

#include "builder/zip_reader.h"
#include "common/file.h"
#include "common/text.h"
#include "common/xml.h"
#include "skin/locale_table.h"
#include "skin/skin_definition.h"
#include "skin/skin_names.h"

namespace sv {

namespace {

bool IsZipPath(const std::wstring& path) {
  return path.size() >= 4 && equalsNoCase(std::wstring_view(path).substr(path.size() - 4), L".zip");
}

}  // namespace

void SkinImport::Clear() { *this = SkinImport(); }

bool SkinImport::LoadSkin(const std::wstring& path, std::wstring* errorOut) {
  Clear();
  std::wstring error;
  int added = 0;
  bool ok;
  if (isDirectory(path)) {
    ok = entries.addFolder(path, added, &error);
    // A file the folder reader cannot take does not stop the load; only an unlistable folder does.
    if (ok) error.clear();
  } else if (IsZipPath(path)) {
    ok = ReadZipEntries(path, entries, added, &error);
  } else {
    ok = false;
    error = L"Zip dosyası ya da klasör bırakın.";
  }
  if (ok && !entries.package.find("skin.xml")) {
    ok = false;
    error = L"skin.xml bulunamadı (geçerli bir patcher skini değil).";
  }
  if (!ok) {
    Clear();
    if (errorOut) *errorOut = error;
    return false;
  }
  sourcePath = path;
  loaded = true;
  AnalyseSkin();
  return true;
}

int SkinImport::AddDroppedItems(const std::vector<std::wstring>& paths, std::wstring* noteOut) {
  int count = 0;
  std::wstring note;
  for (const std::wstring& path : paths) {
    std::wstring error;
    int added = 0;
    if (isDirectory(path)) {
      entries.addFolder(path, added, &error);
    } else if (IsZipPath(path)) {
      ReadZipEntries(path, entries, added, &error);
    } else if (entries.addFile(path, &error)) {
      added = 1;
    }
    count += added;
    if (note.empty() && !error.empty()) note = error;
  }
  if (noteOut) *noteOut = note;
  if (entries.package.find("skin.xml")) {
    loaded = true;
    if (sourcePath.empty()) sourcePath = L"(bırakılan dosyalar)";
    AnalyseSkin();
  }
  return count;
}

namespace {

// The strings of a language file as written in it (no built-in texts), keys upper-cased.
std::map<std::string, std::wstring> FileStrings(const std::string* bytes) {
  std::map<std::string, std::wstring> strings;
  XmlDocument doc;
  if (!bytes || !doc.parse(*bytes)) return strings;
  for (const XmlNode& node : doc.children) {
    if (!equalsNoCase(node.name, "string")) continue;
    const std::string key = upperAscii(trim(node.attribute("key")));
    if (!key.empty()) strings[key] = unescapeLocaleText(toWide(node.text));
  }
  return strings;
}

template <typename Fn>
void ForEachControl(const XmlNode& node, Fn&& fn) {
  for (const XmlNode& child : node.children) {
    if (equalsNoCase(child.name, "control")) fn(child);
    ForEachControl(child, fn);
  }
}

}  // namespace

void SkinImport::AnalyseSkin() {
  const SkinPackage& package = entries.package;
  importedConfigUrl.clear();
  importedNewsUrl.clear();
  importedFeedUrl.clear();
  hasFeedArea = hasWebArea = false;
  links.clear();
  warnings.clear();
  definitionError.clear();
  width = height = 0;

  urlFileName = SkinDefinition::findUrlFile(package);
  std::wstring languagePath;
  if (!urlFileName.empty()) {
    XmlDocument urlDoc;
    if (urlDoc.parse(*package.find(urlFileName))) {
      importedConfigUrl = trim(toWide(urlDoc.attribute("remoteConfigPath")));
      languagePath = trim(toWide(urlDoc.attribute("languagePath")));
    }
  }
  localeFileName = SkinDefinition::findLocaleFile(package, languagePath);
  const std::map<std::string, std::wstring> strings =
      FileStrings(localeFileName.empty() ? nullptr : package.find(localeFileName));
  auto languageString = [&strings](const std::string& key) -> const std::wstring* {
    auto it = strings.find(key);
    return it == strings.end() ? nullptr : &it->second;
  };
  if (const std::wstring* iframe = languageString("LAUNCHER_IFRAME"); iframe && !iframe->empty()) {
    importedNewsUrl = *iframe;
  } else if (const std::wstring* news = languageString("LAUNCHER_NEW_URL")) {
    importedNewsUrl = *news;
  }

  settings = PatcherSettings();
  if (const std::string* ini = package.find(kSettingsEntryName)) settings = PatcherSettings::parse(*ini);

  if (const std::string* skinXml = package.find("skin.xml")) {
    XmlDocument doc;
    if (doc.parse(*skinXml)) {
      importedFeedUrl = toWide(doc.attribute("feed_url"));
      int index = 0;
      ForEachControl(doc, [&](const XmlNode& control) {
        const int controlIndex = index++;
        const std::string id = control.attribute("id");
        const std::string type = toLowerAscii(trim(control.attribute("type")));
        if (upperAscii(trim(id)).rfind("FEED_", 0) == 0) hasFeedArea = true;
        const std::string linkUrl = trim(control.attribute("link_url"));
        const std::string key = upperAscii(linkUrl);
        ButtonLink link;
        link.controlIndex = controlIndex;
        link.id = id;
        link.image = control.attribute("image");
        if (type == "iframe") {
          hasWebArea = true;
          if (linkUrl.empty() || (key == "LAUNCHER_IFRAME" && !languageString(key))) {
            link.languageKey = "LAUNCHER_IFRAME";
            link.fromLanguageFile = true;
            link.url = importedNewsUrl;
          } else if (const std::wstring* text = languageString(key)) {
            link.languageKey = key;
            link.fromLanguageFile = true;
            link.url = *text;
          } else {
            link.url = toWide(linkUrl);
          }
        } else if (type == "button" && !linkUrl.empty()) {
          if (const std::wstring* text = languageString(key)) {
            link.languageKey = key;
            link.fromLanguageFile = true;
            link.url = *text;
          } else {
            link.url = toWide(linkUrl);
          }
        } else {
          return;
        }
        links.push_back(std::move(link));
      });
    }
  }

  SkinDefinition definition;
  if (definition.load(package, &definitionError)) {
    width = definition.width;
    height = definition.height;
    warnings = definition.warnings;
  }
}

SkinFields SkinImport::ImportedFields() const {
  SkinFields fields;
  fields.configUrl = importedConfigUrl;
  fields.newsUrl = importedNewsUrl;
  fields.feedUrl = importedFeedUrl;
  fields.settings = settings;
  for (const ButtonLink& link : links) fields.linkUrls[link.controlIndex] = link.url;
  return fields;
}

namespace {

const XmlNode* NthControl(const XmlNode& root, int wanted) {
  const XmlNode* found = nullptr;
  int index = 0;
  ForEachControl(root, [&](const XmlNode& control) {
    if (index++ == wanted) found = &control;
  });
  return found;
}

// The start tag's name ends where the first attribute or the tag's end begins.
uint32_t EndOfRootName(const XmlDocument& doc) {
  uint32_t at = doc.start + 1;
  while (at < doc.source.size()) {
    const char c = doc.source[at];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>') break;
    ++at;
  }
  return at;
}

// Replaces the root element's attribute value, or inserts the attribute right after the root's
// name when the root has none.
void SetRootAttribute(XmlEditor& editor, const XmlDocument& doc, const std::string& name, const std::wstring& value) {
  const std::string escaped = escapeAttribute(toUtf8(value));
  if (const XmlAttribute* attr = doc.findAttribute(name)) {
    editor.replace(attr->valueStart, attr->valueEnd, escaped);
  } else {
    const uint32_t at = EndOfRootName(doc);
    editor.replace(at, at, " " + name + "=\"" + escaped + "\"");
  }
}

void EditUrlFile(std::string& text, const SkinImport& skin, const SkinFields& fields) {
  const std::wstring configUrl = trim(fields.configUrl);
  if (configUrl.empty() || configUrl == skin.importedConfigUrl) return;
  XmlDocument doc;
  if (!doc.parse(text)) return;
  XmlEditor editor(text);
  SetRootAttribute(editor, doc, "remoteConfigPath", configUrl);
  text = editor.apply();
}

void EditSkinXml(std::string& text, const SkinImport& skin, const SkinFields& fields) {
  XmlDocument doc;
  if (!doc.parse(text)) return;
  XmlEditor editor(text);
  for (const ButtonLink& link : skin.links) {
    if (link.fromLanguageFile) continue;
    auto it = fields.linkUrls.find(link.controlIndex);
    if (it == fields.linkUrls.end()) continue;
    const std::string url = toUtf8(trim(it->second));
    const XmlNode* control = NthControl(doc, link.controlIndex);
    const XmlAttribute* attr = control ? control->findAttribute("link_url") : nullptr;
    if (url.empty() || !attr || attr->value == url) continue;
    editor.replace(attr->valueStart, attr->valueEnd, escapeAttribute(url));
  }
  const std::wstring feedUrl = trim(fields.feedUrl);
  if (skin.hasFeedArea && feedUrl != skin.importedFeedUrl) SetRootAttribute(editor, doc, "feed_url", feedUrl);
  if (!editor.edits.empty()) text = editor.apply();
}

void EditLanguageFile(std::string& text, const SkinImport& skin, const SkinFields& fields) {
  const std::map<std::string, std::wstring> current = FileStrings(&text);
  std::map<std::string, std::wstring> overrides;
  auto set = [&](const std::string& key, const std::wstring& value) {
    auto it = current.find(key);
    if (it != current.end() && it->second == value) {
      overrides.erase(key);  // a later unchanged value wins over an earlier change
      return;
    }
    overrides[key] = value;
  };
  const std::wstring newsUrl = trim(fields.newsUrl);
  if (!newsUrl.empty() && newsUrl != skin.importedNewsUrl) {
    set("LAUNCHER_IFRAME", newsUrl);
    set("LAUNCHER_NEW_URL", newsUrl);
  }
  for (const ButtonLink& link : skin.links) {
    if (!link.fromLanguageFile || link.languageKey.empty()) continue;
    auto it = fields.linkUrls.find(link.controlIndex);
    if (it == fields.linkUrls.end()) continue;
    const std::wstring url = trim(it->second);
    if (!url.empty()) set(link.languageKey, url);
  }
  if (!overrides.empty()) text = writeLocaleFile(text, overrides);
}

}  // namespace

SkinPackageBuilder ApplyEdits(const SkinImport& skin, const SkinFields& fields) {
  SkinPackageBuilder edited = skin.entries;
  for (SkinPackageEntry& entry : edited.package.entries) {
    if (!skin.urlFileName.empty() && entry.name == skin.urlFileName) {
      EditUrlFile(entry.data, skin, fields);
    } else if (entry.name == "skin.xml") {
      EditSkinXml(entry.data, skin, fields);
    } else if (!skin.localeFileName.empty() && entry.name == skin.localeFileName) {
      EditLanguageFile(entry.data, skin, fields);
    }
  }
  edited.put(kSettingsEntryName, fields.settings.toIni());
  return edited;
}

bool BuildSkinPackage(const SkinImport& skin, const SkinFields& fields, std::string& packageOut,
                      std::wstring* errorOut) {
  if (!skin.loaded) {
    if (errorOut) *errorOut = L"Önce bir skin yükleyin.";
    return false;
  }
  const SkinPackageBuilder edited = ApplyEdits(skin, fields);
  // The patcher refuses a package over its entry limit, so such a package must never be built.
  if (edited.package.entries.size() > kSkinPackageMaxEntries) {
    if (errorOut) {
      *errorOut = L"Skin en çok " + std::to_wstring(kSkinPackageMaxEntries) + L" dosya içerebilir (" +
                  std::to_wstring(edited.package.entries.size()) + L" dosya var).";
    }
    return false;
  }
  SkinDefinition definition;
  if (!definition.load(edited.package, errorOut)) return false;
  // A URL file the editor cannot read (another encoding, say) would keep the skin's own address:
  // every patcher built from it would ask the wrong server. What the patcher will read decides.
  const std::wstring configUrl = trim(fields.configUrl);
  if (!configUrl.empty() && definition.remoteConfigPath != configUrl) {
    if (errorOut) *errorOut = L"Yapılandırma adresi " + toWide(definition.urlFileName) + L" dosyasına yazılamadı.";
    return false;
  }
  packageOut = edited.serialize();
  return true;
}

}  // namespace sv
