// Reads arbitrary bytes as INI text and as the patcher's settings: every value is reachable under
// a lower-case key, the settings stay inside their ranges, and the text the builder stores for
// them reads back as the same settings.
#include <cstdint>
#include <string>

#include "common/ini.h"
#include "fuzz/fuzz_check.h"
#include "skin/patcher_settings.h"

using sv::fuzz::Check;

namespace {

// The stored text turns line breaks into spaces (a lone CR can sit inside a read value).
std::wstring OneLine(std::wstring text) {
  for (wchar_t& c : text) {
    if (c == L'\r' || c == L'\n') c = L' ';
  }
  return text;
}

void CheckSame(const sv::PatcherSettings& a, const sv::PatcherSettings& b) {
  Check(OneLine(a.title) == b.title && OneLine(a.runArgs) == b.runArgs &&
        a.connections == b.connections &&
        a.segmentMb == b.segmentMb && a.closeOnStart == b.closeOnStart &&
        a.autoStart == b.autoStart && a.allowStartOnError == b.allowStartOnError &&
        a.browserEmulation == b.browserEmulation);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const sv::IniValues values = sv::parseIni(sv::fuzz::Bytes(data, size));
  for (const auto& [key, value] : values) {
    for (char c : key) Check(!(c >= 'A' && c <= 'Z'));
    Check(value.find('\n') == std::string::npos);
  }

  const sv::PatcherSettings settings = sv::PatcherSettings::parse(sv::fuzz::Bytes(data, size));
  Check(settings.connections >= sv::PatcherSettings::kMinConnections &&
        settings.connections <= sv::PatcherSettings::kMaxConnections);
  Check(settings.segmentMb >= sv::PatcherSettings::kMinSegmentMb &&
        settings.segmentMb <= sv::PatcherSettings::kMaxSegmentMb);
  const std::string stored = settings.toIni();
  const sv::PatcherSettings again = sv::PatcherSettings::parse(stored);
  CheckSame(settings, again);
  Check(again.toIni() == stored);
  return 0;
}
