#include "skin/skin_definition.h"

#include <algorithm>

#include "common/path.h"
#include "common/text.h"
#include "common/xml.h"
#include "skin/skin_names.h"

namespace sv {

namespace {

const char* const kImageEndings[] = {".png", ".jpg", ".jpeg", ".bmp", ".gif"};

// The first attribute present of two names; absent or not a number gives the default.
int32_t IntAttribute(const XmlNode& node, std::string_view first, std::string_view second,
                     int32_t defaultValue) {
  if (node.findAttribute(first)) return node.attributeInt(first, defaultValue);
  return node.attributeInt(second, defaultValue);
}

std::wstring TrimmedWide(const XmlNode& node, std::string_view name) {
  return toWide(trim(node.attribute(name)));
}

bool ParseXml(const std::string& bytes, XmlDocument& doc, std::wstring& error) {
  return doc.parse(decodeTextToUtf8(bytes), &error);
}

// The data of the entry with exactly this name. Entry names found by scanning the list keep the
// letter case they were stored with, which find() (lower-casing its argument) would miss.
const std::string& EntryData(const SkinPackage& package, const std::string& name) {
  for (const SkinPackageEntry& entry : package.entries) {
    if (entry.name == name) return entry.data;
  }
  static const std::string kNone;
  return kNone;
}

ControlKind KindOf(std::string_view type) {
  const std::string t = toLowerAscii(trim(type));
  if (t == "button") return ControlKind::Button;
  if (t == "text") return ControlKind::Text;
  if (t == "gauge") return ControlKind::Gauge;
  if (t == "iframe") return ControlKind::Frame;
  if (t == "image") return ControlKind::Picture;
  return ControlKind::None;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool parseSkinColor(std::string_view text, uint32_t& argbOut) {
  std::string value = trim(text);
  std::string_view digits = value;
  if (!digits.empty() && digits[0] == '#') digits.remove_prefix(1);
  if (digits.size() != 6 && digits.size() != 8) return false;
  uint32_t v = 0;
  for (char c : digits) {
    const int d = HexDigit(c);
    if (d < 0) return false;
    v = (v << 4) | uint32_t(d);
  }
  argbOut = digits.size() == 6 ? (0xFF000000u | v) : v;
  return true;
}

std::string SkinDefinition::findUrlFile(const SkinPackage& package) {
  if (package.find("torrentpatch.url.xml")) return "torrentpatch.url.xml";
  for (const SkinPackageEntry& entry : package.entries) {
    if (endsWith(entry.name, "url.xml")) return entry.name;
  }
  return {};
}

std::string SkinDefinition::findLocaleFile(const SkinPackage& package,
                                           std::wstring_view languagePath) {
  const std::string named = toLowerAscii(toUtf8(fileName(languagePath)));
  if (!named.empty() && package.find(named)) return named;
  if (package.find("torrentpatch.locale.xml")) return "torrentpatch.locale.xml";
  for (const SkinPackageEntry& entry : package.entries) {
    if (endsWith(entry.name, ".locale.xml")) return entry.name;
  }
  return {};
}

std::string SkinDefinition::resolveImageName(const SkinPackage& package, std::string_view name) {
  const std::string base = toLowerAscii(trim(name));
  if (base.empty()) return {};
  for (const char* ending : kImageEndings) {
    if (endsWith(base, ending) && package.find(base)) return base;
  }
  for (const char* ending : kImageEndings) {
    std::string candidate = base + ending;
    if (package.find(candidate)) return candidate;
  }
  return {};
}

const SkinImage* SkinDefinition::image(std::string_view name) {
  if (!package_) {
    // Without a package only images decoded earlier can be returned.
    for (const auto& ending : {"", ".png", ".jpg", ".jpeg", ".bmp", ".gif"}) {
      auto it = images_.find(toLowerAscii(trim(name)) + ending);
      if (it != images_.end()) return it->second.get();
    }
    return nullptr;
  }
  const std::string entry = resolveImageName(*package_, name);
  if (entry.empty() || failedImages_.count(entry)) return nullptr;
  auto cached = images_.find(entry);
  if (cached != images_.end() && cached->second->width >= 1 && cached->second->height >= 1)
    return cached->second.get();
  auto decoded = std::make_unique<SkinImage>();
  std::wstring error;
  if (!decodeImage(*package_->find(entry), *decoded, &error,
                   kSkinMaxDecodedPixels - decodedPixels_)) {
    warnings.push_back(toWide(entry) + L": " + error);
    failedImages_.insert(entry);
    return nullptr;
  }
  decodedPixels_ += uint64_t(decoded->width) * uint64_t(decoded->height);
  const SkinImage* result = decoded.get();
  images_[entry] = std::move(decoded);
  return result;
}

const SkinControl* SkinDefinition::findControl(std::string_view id) const {
  for (const SkinControl& control : controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

void SkinDefinition::clear() {
  width = height = 0;
  background = nullptr;
  transparent = false;
  controls.clear();
  locale.loadDefaults();
  remoteConfigPath.clear();
  localConfigPath = L"draskeltorrent.config.xml";
  languagePath = L"TorrentPatch.locale.xml";
  settings = PatcherSettings();
  feedUrl.clear();
  feedRefreshSeconds = 60;
  skinFileName.clear();
  urlFileName.clear();
  localeFileName.clear();
  warnings.clear();
  images_.clear();
  failedImages_.clear();
  decodedPixels_ = 0;
}

bool SkinDefinition::load(const SkinPackage& package, std::wstring* errorOut) {
  clear();
  package_ = &package;
  // image() may only read the package while this call runs.
  struct PackageScope {
    const SkinPackage*& ref;
    ~PackageScope() { ref = nullptr; }
  } scope{package_};
  auto fail = [errorOut](std::wstring message) {
    if (errorOut) *errorOut = std::move(message);
    return false;
  };

  if (const std::string* ini = package.find(kSettingsEntryName))
    settings = PatcherSettings::parse(*ini);

  urlFileName = findUrlFile(package);
  if (urlFileName.empty()) return fail(L"Skin içinde TorrentPatch.url.xml yok.");
  std::wstring error;
  XmlDocument urlDoc;
  if (!ParseXml(EntryData(package, urlFileName), urlDoc, error))
    return fail(toWide(urlFileName) + L" okunamadı: " + error);
  remoteConfigPath = TrimmedWide(urlDoc, "remoteConfigPath");
  if (std::wstring local = TrimmedWide(urlDoc, "localConfigPath"); !local.empty())
    localConfigPath = std::move(local);
  if (std::wstring language = TrimmedWide(urlDoc, "languagePath"); !language.empty())
    languagePath = std::move(language);

  localeFileName = findLocaleFile(package, languagePath);
  if (!localeFileName.empty() &&
      !locale.loadFile(EntryData(package, localeFileName), &error)) {
    warnings.push_back(toWide(localeFileName) + L" okunamadı: " + error);
  }

  const std::string* skinXml = package.find("skin.xml");
  if (!skinXml) return fail(locale.text("ERROR_NO_SKIN") + L" (skin.xml yok)");
  skinFileName = "skin.xml";
  XmlDocument doc;
  if (!ParseXml(*skinXml, doc, error)) return fail(L"skin.xml okunamadı: " + error);

  const std::string backgroundName = doc.attribute("background_image", "main");
  background = image(backgroundName);
  if (!background) {
    return fail(locale.text("ERROR_NO_SKIN") + L" (arka plan görseli yok: " +
                toWide(backgroundName) + L")");
  }
  width = background->width;
  height = background->height;
  transparent = background->hasAlpha;
  feedUrl = TrimmedWide(doc, "feed_url");
  feedRefreshSeconds = doc.attributeInt("feed_refresh", 60);

  for (const XmlNode& child : doc.children) {
    if (equalsNoCase(child.name, "control")) readControl(child);
  }
  return true;
}

std::wstring SkinDefinition::resolveText(const std::string& attribute) const {
  const std::string key = upperAscii(trim(attribute));
  if (!key.empty() && locale.contains(key)) return locale.text(key);
  return toWide(attribute);
}

void SkinDefinition::readControl(const XmlNode& node) {
  SkinControl control;
  control.kind = KindOf(node.attribute("type"));
  control.id = upperAscii(trim(node.attribute("id")));
  control.x = node.attributeInt("x", 0);
  control.y = node.attributeInt("y", 0);
  control.width = IntAttribute(node, "width", "w", 0);
  control.image = node.attribute("image");
  control.link = trim(resolveText(node.attribute("link_url")));
  control.execPath = TrimmedWide(node, "exec_path");
  control.enableOnComplete = parseBool(node.attribute("enable_on_complete"), false);
  control.text = resolveText(node.attribute("text"));
  parseSkinColor(node.attribute("color"), control.color);
  if (const XmlAttribute* shadow = node.findAttribute("shadow"))
    control.hasShadow = parseSkinColor(shadow->value, control.shadowColor);
  control.bold = parseBool(node.attribute("bold"), false);
  control.fontSize = std::clamp(node.attributeInt("size", 12), 6, 96);
  control.fontName = toWide(node.attribute("font", "Tahoma"));
  const std::string align = toLowerAscii(trim(node.attribute("align")));
  control.align = align == "center" ? TextAlign::Center
                  : align == "right" ? TextAlign::Right
                                     : TextAlign::Left;

  switch (control.kind) {
    case ControlKind::Button:
      readButton(node, control);
      break;
    case ControlKind::Gauge:
      readGauge(node, control);
      break;
    case ControlKind::Frame:
      control.boxWidth = IntAttribute(node, "width", "w", 0);
      control.boxHeight = IntAttribute(node, "height", "h", 0);
      break;
    case ControlKind::Picture:
      control.normal = image(control.image);
      if (control.normal) {
        control.boxWidth = control.normal->width;
        control.boxHeight = control.normal->height;
      }
      break;
    case ControlKind::Text:
    case ControlKind::None:
      break;
  }
  controls.push_back(std::move(control));
}

void SkinDefinition::readButton(const XmlNode& node, SkinControl& control) {
  if (control.id == "URL_NEW" && control.link.empty())
    control.link = trim(locale.text("LAUNCHER_NEW_URL"));

  std::string base = toLowerAscii(trim(control.image));
  for (const char* ending : kImageEndings) {
    if (endsWith(base, ending)) {
      base.resize(base.size() - std::string_view(ending).size());
      break;
    }
  }
  if (endsWith(base, "_up")) base.resize(base.size() - 3);

  control.normal = image(base + "_up");
  if (!control.normal) control.normal = image(base);
  control.hover = image(base + "_on");
  if (!control.hover) control.hover = control.normal;
  control.pressed = image(base + "_dn");
  if (!control.pressed) control.pressed = control.hover;
  control.disabled = image(base + "_ds");
  control.hasDisabledImage = control.disabled != nullptr;
  if (!control.disabled) control.disabled = control.normal;

  if (control.normal) {
    control.boxWidth = control.normal->width;
    control.boxHeight = control.normal->height;
  } else {
    warnings.push_back(L"Buton görseli yok: " + toWide(base) + L"_up");
    control.boxWidth = IntAttribute(node, "width", "w", 0);
    control.boxHeight = IntAttribute(node, "height", "h", 0);
  }
}

void SkinDefinition::readGauge(const XmlNode& node, SkinControl& control) {
  const std::string fullName =
      node.findAttribute("image_full") ? node.attribute("image_full") : control.image;
  control.full = image(fullName);
  const std::string emptyName = node.attribute("image_empty");
  const std::string emptyEntry = resolveImageName(*package_, emptyName);
  if (!emptyEntry.empty() && emptyEntry != resolveImageName(*package_, fullName))
    control.empty = image(emptyName);
  // Names the image that was looked for, which is image_full when the skin gives one.
  if (!control.full) warnings.push_back(L"Gauge görseli yok: " + toWide(fullName));
  const int32_t fullWidth = control.full ? control.full->width : 0;
  const int32_t fullHeight = control.full ? control.full->height : 0;
  control.boxWidth = IntAttribute(node, "w", "width", fullWidth);
  control.boxHeight = IntAttribute(node, "h", "height", fullHeight);
}

}  // namespace sv
