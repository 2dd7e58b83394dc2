#include "builder/form_values.h"

#include "builder/form_fields.h"
#include "common/file.h"
#include "common/path.h"
#include "common/text.h"

namespace sv {

namespace {

const std::wstring kEmpty;

// The keys every session file holds, in the file's order; links follow in key order.
constexpr const char* kSessionOrder[] = {
    kKeySkin,    "config_url",       "iframe_url",    "feed_url",       "title",          "out_name",
    "out_path",  kKeyIcon,           kKeyConnections, "seg",            "max_kbps",       kKeyCloseOnStart, kKeyAutoStart,
    kKeyAllowError, kKeyBrowserEmu,  "run_args",      "v_product",      "v_company",      "v_version",
    "v_copyright",  kKeySign,        "sign_pfx",      "sign_ts",        "release_key"};

// A single-line edit cannot hold a line break, but a pasted one must not split the file's line.
std::string OneLine(const std::wstring& value) {
  std::string bytes = toUtf8(value);
  for (char& c : bytes) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return bytes;
}

bool InOrder(std::string_view key) {
  for (const char* k : kSessionOrder) {
    if (key == k) return true;
  }
  return false;
}

void EraseLinks(FormValues& v) {
  for (auto it = v.values.begin(); it != v.values.end();) {
    it = IsLinkKey(it->first) ? v.values.erase(it) : std::next(it);
  }
}

}  // namespace

FormValues::FormValues() {
  for (const FormField& f : kFormFields) {
    if (f.sessionKey[0]) values[f.sessionKey] = f.initial;
  }
  values[kKeySkin] = L"";
  values[kKeyIcon] = L"";
  values[kKeyConnections] = L"4";
  setFlag(kKeyCloseOnStart, true);
  setFlag(kKeyAutoStart, false);
  setFlag(kKeyAllowError, false);
  setFlag(kKeyBrowserEmu, true);
  setFlag(kKeySign, false);
}

const std::wstring& FormValues::get(std::string_view key) const {
  auto it = values.find(key);
  return it == values.end() ? kEmpty : it->second;
}

void FormValues::set(std::string_view key, std::wstring value) {
  auto it = values.find(key);
  if (it == values.end()) {
    values.emplace(std::string(key), std::move(value));
  } else {
    it->second = std::move(value);
  }
}

const std::wstring& FormValues::field(int id) const {
  if (id == kFieldPassword) return password;
  const FormField* f = FindField(id);
  return f && f->sessionKey[0] ? get(f->sessionKey) : kEmpty;
}

void FormValues::setField(int id, std::wstring value) {
  if (id == kFieldPassword) {
    password = std::move(value);
  } else if (const FormField* f = FindField(id); f && f->sessionKey[0]) {
    set(f->sessionKey, std::move(value));
  }
}

int32_t FormValues::connections() const {
  const int32_t conn = parseInt32(toUtf8(get(kKeyConnections)), 0);
  return conn >= PatcherSettings::kMinConnections && conn <= PatcherSettings::kMaxConnections ? conn : 4;
}

int32_t FormValues::segmentMb() const {
  int32_t seg = parseInt32(toUtf8(trim(field(kFieldSegment))), 4);
  return seg < 1 ? 1 : seg;
}

std::string SessionText(const FormValues& v) {
  std::string out = kSessionHeader;
  auto line = [&out](std::string_view key, const std::wstring& value) {
    out += key;
    out += '=';
    out += OneLine(value);
    out += "\r\n";
  };
  for (const char* key : kSessionOrder) line(key, v.get(key));
  for (const auto& [key, value] : v.values) {
    if (!InOrder(key)) line(key, value);
  }
  return out;
}

BuilderSession ToSession(const FormValues& values) {
  BuilderSession session;
  for (const auto& [key, value] : values.values) session.values[key] = OneLine(value);
  return session;
}

std::map<std::string, std::wstring> SkinValues(const SkinImport& skin) {
  const SkinFields f = skin.ImportedFields();
  std::map<std::string, std::wstring> out = {
      {"config_url", f.configUrl},
      {kNewsPageKey, f.newsUrl},
      {"feed_url", f.feedUrl},
      {"title", f.settings.title},
      {"seg", formatInt64(f.settings.segmentMb)},
      {"max_kbps", formatInt64(f.settings.maxKbps)},
      {"run_args", f.settings.runArgs},
      {kKeyConnections, formatInt64(f.settings.connections)},
      {kKeyCloseOnStart, f.settings.closeOnStart ? L"1" : L"0"},
      {kKeyAutoStart, f.settings.autoStart ? L"1" : L"0"},
      {kKeyAllowError, f.settings.allowStartOnError ? L"1" : L"0"},
      {kKeyBrowserEmu, f.settings.browserEmulation ? L"1" : L"0"},
  };
  for (const auto& [key, url] : f.linkUrls) out[key] = url;
  return out;
}

void PrefillFromSkin(FormValues& v, const SkinImport& skin, bool restoring) {
  EraseLinks(v);
  for (auto& [key, value] : SkinValues(skin)) v.set(key, std::move(value));
  if (trim(v.field(kFieldProduct)).empty()) v.setField(kFieldProduct, trim(skin.settings.title));
  if (trim(v.field(kFieldOutName)).empty()) v.setField(kFieldOutName, kDefaultOutputName);
  v.set(kKeySkin, skin.sourcePath);
  if (!restoring) {
    const std::wstring folder = isDirectory(skin.sourcePath) ? skin.sourcePath : parentPath(skin.sourcePath);
    v.setField(kFieldOutPath, joinPath(folder, trim(v.field(kFieldOutName))));
  }
}

void CarrySkinValuesOver(FormValues& v, const std::map<std::string, std::wstring>& before,
                         const std::map<std::string, std::wstring>& after) {
  std::map<std::string, std::wstring> edited;  // key -> the operator's value
  for (const auto& [key, skinValue] : before) {
    auto it = v.values.find(key);
    if (it != v.values.end() && it->second != skinValue) edited.emplace(key, it->second);
  }
  for (const auto& [key, skinValue] : before) {
    if (IsLinkKey(key) && !after.count(key)) v.values.erase(key);
  }
  for (const auto& [key, skinValue] : after) {
    auto it = edited.find(key);
    v.set(key, it == edited.end() ? skinValue : it->second);
  }
}

bool ApplySession(FormValues& v, const BuilderSession& s, const RestoreHooks& hooks) {
  if (s.has("out_name") && !s.text("out_name").empty()) v.set("out_name", s.text("out_name"));
  for (const char* key : {"v_product", "v_company", "v_version", "v_copyright", "sign_pfx", "sign_ts", "release_key"}) {
    if (s.has(key)) v.set(key, s.text(key));
  }
  const std::wstring icon = s.text(kKeyIcon);
  if (!icon.empty() && hooks.iconUsable && hooks.iconUsable(icon)) v.set(kKeyIcon, icon);

  const std::wstring skinPath = s.text(kKeySkin);
  const SkinImport* skin = !skinPath.empty() && hooks.skinExists && hooks.skinExists(skinPath) && hooks.loadSkin
                               ? hooks.loadSkin(skinPath)
                               : nullptr;
  // A skin that cannot be loaded now (an unmounted drive, a zip being replaced) keeps its path and
  // every value given for it, so that the next save writes them back instead of wiping them.
  if (!skin) v.set(kKeySkin, skinPath);
  for (const char* key : {"config_url", "iframe_url", "feed_url", "title", "seg", "max_kbps", "run_args"}) {
    if (s.has(key)) v.set(key, s.text(key));
  }
  if (s.has(kKeyConnections)) {
    const int32_t conn = parseInt32(s.values.at(kKeyConnections), 0);
    if (conn >= PatcherSettings::kMinConnections && conn <= PatcherSettings::kMaxConnections)
      v.set(kKeyConnections, formatInt64(conn));
  }
  for (const char* key : {kKeyCloseOnStart, kKeyAutoStart, kKeyAllowError, kKeyBrowserEmu}) {
    if (s.has(key)) v.setFlag(key, s.values.at(key) == "1");
  }
  // A loaded skin's links take the saved value of their own key; without the skin every saved
  // link is kept as it was.
  if (skin) {
    for (auto& [key, url] : SessionLinks(s, skin->links)) {
      if (IsLinkKey(key)) v.set(key, std::move(url));
    }
  } else {
    for (const auto& [key, value] : s.values) {
      if (IsLinkKey(key)) v.set(key, toWide(value));
    }
  }
  if (!s.text("out_path").empty()) v.set("out_path", s.text("out_path"));
  v.setFlag(kKeySign, s.has(kKeySign) && s.values.at(kKeySign) == "1");
  return skin != nullptr;
}

}  // namespace sv
