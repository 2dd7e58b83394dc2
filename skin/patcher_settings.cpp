#include "skin/patcher_settings.h"

#include <algorithm>

#include "common/ini.h"
#include "common/text.h"

namespace sv {

namespace {

const std::string* Find(const IniValues& values, const char* key) {
  auto it = values.find(key);
  return it != values.end() ? &it->second : nullptr;
}

void ReadClamped(const IniValues& values, const char* key, int32_t low, int32_t high,
                 int32_t& field) {
  if (const std::string* value = Find(values, key))
    field = std::clamp(parseInt32(*value, field), low, high);
}

void ReadFlag(const IniValues& values, const char* key, bool& field) {
  if (const std::string* value = Find(values, key)) field = parseBool(*value, field);
}

const char* Flag(bool value) { return value ? "1" : "0"; }

// A line break would end the value on reading and let the rest pose as further keys. A value
// that reading would change (spaces at either end, which are trimmed, or quotes there, one pair
// of which is removed) is written inside quotes, which reading removes again.
std::string OneLine(const std::wstring& value) {
  std::string out = toUtf8(value);
  std::replace_if(out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
  const auto quote = [](char c) { return c == '"' || c == '\''; };
  if (!out.empty() && (trim(out) != out || quote(out.front()) || quote(out.back())))
    out = '"' + out + '"';
  return out;
}

}  // namespace

PatcherSettings PatcherSettings::parse(std::string_view bytes) {
  PatcherSettings s;
  const IniValues values = parseIni(bytes);
  if (const std::string* v = Find(values, "patcher.title")) s.title = toWide(*v);
  if (const std::string* v = Find(values, "patcher.run_args")) s.runArgs = toWide(*v);
  ReadClamped(values, "patcher.connections", kMinConnections, kMaxConnections, s.connections);
  ReadClamped(values, "patcher.segment_mb", kMinSegmentMb, kMaxSegmentMb, s.segmentMb);
  ReadClamped(values, "patcher.max_kbps", 0, kMaxMaxKbps, s.maxKbps);
  ReadFlag(values, "patcher.close_on_start", s.closeOnStart);
  ReadFlag(values, "patcher.auto_start", s.autoStart);
  ReadFlag(values, "patcher.allow_start_on_error", s.allowStartOnError);
  ReadFlag(values, "patcher.browser_emulation", s.browserEmulation);
  return s;
}

std::string PatcherSettings::toIni() const {
  std::string out = "; Sarvik ayarlari (yapici tarafindan yazilir)\r\n[patcher]\r\n";
  out += "title=" + OneLine(title) + "\r\n";
  out += "connections=" + std::to_string(connections) + "\r\n";
  out += "segment_mb=" + std::to_string(segmentMb) + "\r\n";
  out += "max_kbps=" + std::to_string(maxKbps) + "\r\n";
  out += std::string("close_on_start=") + Flag(closeOnStart) + "\r\n";
  out += std::string("auto_start=") + Flag(autoStart) + "\r\n";
  out += std::string("allow_start_on_error=") + Flag(allowStartOnError) + "\r\n";
  out += std::string("browser_emulation=") + Flag(browserEmulation) + "\r\n";
  out += "run_args=" + OneLine(runArgs) + "\r\n";
  return out;
}

}  // namespace sv
