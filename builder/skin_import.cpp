#include "builder/skin_import.h"

#include <set>

#include "builder/zip_reader.h"
#include "common/file.h"
#include "common/text.h"
#include "common/xml.h"
#include "skin/locale_table.h"
#include "skin/skin_definition.h"
#include "skin/skin_names.h"

namespace sv {

namespace {

constexpr const char* kNewsLanguageKey = "LAUNCHER_IFRAME";
constexpr const char* kRegisterLanguageKey = "LAUNCHER_NEW_URL";

bool IsZipPath(const std::wstring& path) {
  return path.size() >= 4 && equalsNoCase(std::wstring_view(path).substr(path.size() - 4), L".zip");
}

std::string LinkKey(const ButtonLink& link) {
  if (link.languageKey == kNewsLanguageKey) return kNewsPageKey;
  if (!link.languageKey.empty()) return "lang." + link.languageKey;
  const std::string id = upperAscii(trim(link.id));
  return id.empty() ? "link.#" + std::to_string(link.controlIndex) : "link." + id;
}

}  // namespace

bool IsLinkKey(std::string_view key) { return key.rfind("link.", 0) == 0 || key.rfind("lang.", 0) == 0; }

void SkinImport::Clear() { *this = SkinImport(); }

bool SkinImport::LoadSkin(const std::wstring& path, std::wstring* errorOut, const std::atomic<bool>* cancel) {
  Clear();
  std::wstring error;
  int added = 0;
  bool ok;
  if (isDirectory(path)) {
    ok = entries.addFolder(path, added, &error);
    // A file the folder reader cannot take does not stop the load; only an unlistable folder does.
    if (ok) error.clear();
  } else if (IsZipPath(path)) {
    ok = ReadZipEntries(path, entries, added, &error, cancel);
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
  // The news area shows LAUNCHER_IFRAME and nothing else: LAUNCHER_NEW_URL is the register
  // button's address, never the news page's.
  if (const std::wstring* iframe = languageString(kNewsLanguageKey)) importedNewsUrl = *iframe;

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
          if (linkUrl.empty() || (key == kNewsLanguageKey && !languageString(key))) {
            link.languageKey = kNewsLanguageKey;
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
        } else if (type == "button" && upperAscii(trim(id)) == "URL_NEW") {
          // The register button without an address of its own opens LAUNCHER_NEW_URL, as the
          // patcher's skin reader does.
          link.languageKey = kRegisterLanguageKey;
          link.fromLanguageFile = true;
          if (const std::wstring* text = languageString(kRegisterLanguageKey)) link.url = *text;
        } else {
          return;
        }
        link.key = LinkKey(link);
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
  for (const ButtonLink& link : LinkFields()) {
    if (IsLinkKey(link.key)) fields.linkUrls[link.key] = link.url;
  }
  return fields;
}

std::vector<ButtonLink> SkinImport::LinkFields() const {
  std::vector<ButtonLink> fields;
  std::set<std::string> seen;
  for (const ButtonLink& link : links) {
    if (seen.insert(link.key).second) fields.push_back(link);
  }
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

// A start tag's name ends where the first attribute or the tag's end begins.
uint32_t EndOfName(const std::string& source, const XmlNode& node) {
  uint32_t at = node.start + 1;
  while (at < source.size()) {
    const char c = source[at];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>') break;
    ++at;
  }
  return at;
}

// Replaces the element's attribute value, or inserts the attribute right after the element's
// name when it has none.
void SetAttribute(XmlEditor& editor, const std::string& source, const XmlNode& node, const std::string& name,
                  const std::string& value) {
  const std::string escaped = escapeAttribute(value);
  if (const XmlAttribute* attr = node.findAttribute(name)) {
    editor.replace(attr->valueStart, attr->valueEnd, escaped);
  } else {
    const uint32_t at = EndOfName(source, node);
    editor.replace(at, at, " " + name + "=\"" + escaped + "\"");
  }
}

void SetRootAttribute(XmlEditor& editor, const XmlDocument& doc, const std::string& name, const std::wstring& value) {
  SetAttribute(editor, doc.source, doc, name, toUtf8(value));
}

// The operator's value of a link, trimmed: the news field for the news area.
std::wstring LinkValue(const ButtonLink& link, const SkinFields& fields) {
  if (link.key == kNewsPageKey) return trim(fields.newsUrl);
  auto it = fields.linkUrls.find(link.key);
  return it == fields.linkUrls.end() ? trim(link.url) : trim(it->second);
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
    const std::string url = toUtf8(LinkValue(link, fields));
    const XmlNode* control = NthControl(doc, link.controlIndex);
    if (url.empty() || !control) continue;
    const XmlAttribute* attr = control->findAttribute("link_url");
    if (link.fromLanguageFile) {
      // A news area without link_url shows nothing in the patcher: the changed news page reaches
      // it through the language string it is bound to.
      if (link.key == kNewsPageKey && (!attr || trim(attr->value).empty()) && url != toUtf8(trim(link.url)))
        SetAttribute(editor, text, *control, "link_url", kNewsLanguageKey);
      continue;
    }
    if (!attr || attr->value == url) continue;
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
  // Each value reaches its own key and no other: the news page only LAUNCHER_IFRAME, a button
  // bound to a language string only that string.
  const std::wstring newsUrl = trim(fields.newsUrl);
  if (!newsUrl.empty() && newsUrl != skin.importedNewsUrl) set(kNewsLanguageKey, newsUrl);
  for (const ButtonLink& link : skin.LinkFields()) {
    if (!link.fromLanguageFile || link.languageKey.empty() || link.key == kNewsPageKey) continue;
    const std::wstring url = LinkValue(link, fields);
    if (!url.empty() && url != trim(link.url)) set(link.languageKey, url);
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
  // The same for every address the operator changed: the control must open it in the patcher
  // (a skin without a language file, say, cannot take a changed news page).
  for (const ButtonLink& link : skin.LinkFields()) {
    const std::wstring value = LinkValue(link, fields);
    if (value.empty() || value == trim(link.url)) continue;
    const SkinControl* control = definition.findControl(upperAscii(trim(link.id)));
    if (!control || control->link == value) continue;
    if (errorOut) {
      *errorOut = link.key == kNewsPageKey ? L"Haber sayfası adresi skine yazılamadı (" + toWide(link.id) + L")."
                                           : L"Bağlantı adresi skine yazılamadı: " + toWide(link.id);
    }
    return false;
  }
  packageOut = edited.serialize();
  return true;
}

}  // namespace sv
