#include "builder/form_values.h"

#include "builder/form_fields.h"
#include "common/file.h"
#include "common/path.h"
#include "common/text.h"

namespace sv {

namespace {

const std::wstring kEmpty;

// A single-line edit cannot hold a line break, but a pasted one must not split the file's line.
std::string OneLine(const std::wstring& value) {
  std::string bytes = toUtf8(value);
  for (char& c : bytes) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return bytes;
}

const char* Flag(bool on) { return on ? "1" : "0"; }

}  // namespace

FormValues::FormValues() {
  for (const FormField& f : kFormFields) text[f.id] = f.initial;
}

const std::wstring& FormValues::field(int id) const {
  auto it = text.find(id);
  return it == text.end() ? kEmpty : it->second;
}

int32_t FormValues::segmentMb() const {
  int32_t seg = parseInt32(toUtf8(trim(field(kFieldSegment))), 4);
  return seg < 1 ? 1 : seg;
}

std::string SessionText(const FormValues& v) {
  std::string out = kSessionHeader;
  auto line = [&out](const char* key, const std::string& value) {
    out += key;
    out += '=';
    out += value;
    out += "\r\n";
  };
  auto field = [&](const char* key, int id) { line(key, OneLine(v.field(id))); };
  line("skin", OneLine(v.skinPath));
  field("config_url", kFieldConfigUrl);
  field("iframe_url", kFieldNewsUrl);
  field("feed_url", kFieldFeedUrl);
  field("title", kFieldTitle);
  field("out_name", kFieldOutName);
  field("out_path", kFieldOutPath);
  line("icon", OneLine(v.iconPath));
  line("conn", std::to_string(v.connections));
  field("seg", kFieldSegment);
  line("close_on_start", Flag(v.closeOnStart));
  line("auto_start", Flag(v.autoStart));
  line("allow_error", Flag(v.allowError));
  line("browser_emu", Flag(v.browserEmulation));
  field("run_args", kFieldRunArgs);
  field("v_product", kFieldProduct);
  field("v_company", kFieldCompany);
  field("v_version", kFieldVersion);
  field("v_copyright", kFieldCopyright);
  line("sign", Flag(v.sign));
  field("sign_pfx", kFieldPfx);
  field("sign_ts", kFieldTimestamp);
  for (const auto& [index, url] : v.links) line(("link." + std::to_string(index)).c_str(), OneLine(url));
  return out;
}

BuilderSession ToSession(const FormValues& values) {
  BuilderSession session;
  session.values = ParseSessionText(SessionText(values));
  return session;
}

void PrefillFromSkin(FormValues& v, const SkinImport& skin, bool restoring) {
  const SkinFields f = skin.ImportedFields();
  v.text[kFieldConfigUrl] = f.configUrl;
  v.text[kFieldNewsUrl] = f.newsUrl;
  v.text[kFieldFeedUrl] = f.feedUrl;
  v.text[kFieldTitle] = f.settings.title;
  v.text[kFieldSegment] = formatInt64(f.settings.segmentMb);
  v.text[kFieldRunArgs] = f.settings.runArgs;
  v.connections = f.settings.connections;
  v.closeOnStart = f.settings.closeOnStart;
  v.autoStart = f.settings.autoStart;
  v.allowError = f.settings.allowStartOnError;
  v.browserEmulation = f.settings.browserEmulation;
  v.links.clear();
  for (const ButtonLink& link : skin.links) v.links[link.controlIndex] = link.url;
  if (trim(v.field(kFieldProduct)).empty()) v.text[kFieldProduct] = trim(f.settings.title);
  if (trim(v.field(kFieldOutName)).empty()) v.text[kFieldOutName] = kDefaultOutputName;
  v.skinPath = skin.sourcePath;
  if (!restoring) {
    const std::wstring folder = isDirectory(skin.sourcePath) ? skin.sourcePath : parentPath(skin.sourcePath);
    v.text[kFieldOutPath] = joinPath(folder, trim(v.field(kFieldOutName)));
  }
}

void CarryLinksOver(FormValues& v, const std::vector<ButtonLink>& before, const std::vector<ButtonLink>& after) {
  std::map<std::string, std::wstring> edited;  // control id -> the operator's value
  for (const ButtonLink& link : before) {
    auto it = v.links.find(link.controlIndex);
    if (!link.id.empty() && it != v.links.end() && it->second != link.url) edited.emplace(link.id, it->second);
  }
  v.links.clear();
  for (const ButtonLink& link : after) {
    auto it = edited.find(link.id);
    v.links[link.controlIndex] = it == edited.end() ? link.url : it->second;
    if (it != edited.end()) edited.erase(it);
  }
}

bool ApplySession(FormValues& v, const BuilderSession& s, const RestoreHooks& hooks) {
  if (s.has("out_name") && !s.text("out_name").empty()) v.text[kFieldOutName] = s.text("out_name");
  const std::pair<const char*, int> identity[] = {{"v_product", kFieldProduct}, {"v_company", kFieldCompany},
                                                  {"v_version", kFieldVersion}, {"v_copyright", kFieldCopyright},
                                                  {"sign_pfx", kFieldPfx},      {"sign_ts", kFieldTimestamp}};
  for (const auto& [key, id] : identity) {
    if (s.has(key)) v.text[id] = s.text(key);
  }
  const std::wstring icon = s.text("icon");
  if (!icon.empty() && hooks.iconUsable && hooks.iconUsable(icon)) v.iconPath = icon;

  const std::wstring skin = s.text("skin");
  const bool skinLoaded =
      !skin.empty() && hooks.skinExists && hooks.skinExists(skin) && hooks.loadSkin && hooks.loadSkin(skin);
  // A skin that cannot be loaded now (an unmounted drive, a zip being replaced) keeps its path and
  // every value given for it, so that the next save writes them back instead of wiping them.
  if (!skinLoaded) v.skinPath = skin;
  const std::pair<const char*, int> fields[] = {{"config_url", kFieldConfigUrl}, {"iframe_url", kFieldNewsUrl},
                                                {"feed_url", kFieldFeedUrl},     {"title", kFieldTitle},
                                                {"seg", kFieldSegment},          {"run_args", kFieldRunArgs}};
  for (const auto& [key, id] : fields) {
    if (s.has(key)) v.text[id] = s.text(key);
  }
  ApplySessionBehaviour(s, v.connections, v.closeOnStart, v.autoStart, v.allowError, v.browserEmulation);
  // A loaded skin's links take the saved value of their own control; without the skin every saved
  // link is kept as it was.
  const std::map<int, std::wstring> links = SessionLinks(s);
  if (!skinLoaded) v.links = links;
  for (auto& [index, url] : v.links) {
    if (auto it = links.find(index); it != links.end()) url = it->second;
  }
  if (!s.text("out_path").empty()) v.text[kFieldOutPath] = s.text("out_path");
  v.sign = s.has("sign") && s.values.at("sign") == "1";
  return skinLoaded;
}

}  // namespace sv
