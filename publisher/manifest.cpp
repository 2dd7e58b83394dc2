#include "publisher/manifest.h"

#include <charconv>

#include "common/crc32.h"

namespace sv {

namespace {

constexpr std::string_view kHeader = "SarvikPublish manifest 1\n";

template <typename T>
bool ParseNumber(std::string_view field, T& out) {
  auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), out);
  return error == std::errc() && end == field.data() + field.size();
}

}  // namespace

// One line per file: CRC, size, modification time, level, .lz size and path, tab-separated (a
// path may hold spaces but never a tab or a line break).
std::string FormatManifest(const Manifest& manifest) {
  std::string text(kHeader);
  for (const auto& [path, e] : manifest) {
    text += FormatCrc32(e.crc) + '\t' + std::to_string(e.size) + '\t' +
            std::to_string(e.modified) + '\t' + std::to_string(e.level) + '\t' +
            std::to_string(e.lzSize) + '\t' + path + '\n';
  }
  return text;
}

bool ParseManifest(std::string_view text, Manifest& out) {
  out.clear();
  if (text.substr(0, kHeader.size()) != kHeader) return false;
  text.remove_prefix(kHeader.size());
  while (!text.empty()) {
    size_t eol = text.find('\n');
    if (eol == std::string_view::npos) {
      out.clear();
      return false;
    }
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(eol + 1);
    std::string_view fields[6];
    for (int i = 0; i < 5; ++i) {
      size_t tab = line.find('\t');
      if (tab == std::string_view::npos) {
        out.clear();
        return false;
      }
      fields[i] = line.substr(0, tab);
      line.remove_prefix(tab + 1);
    }
    fields[5] = line;
    ManifestEntry e;
    if (!ParseHex32(fields[0], e.crc) || !ParseNumber(fields[1], e.size) ||
        !ParseNumber(fields[2], e.modified) || !ParseNumber(fields[3], e.level) ||
        !ParseNumber(fields[4], e.lzSize) || fields[5].empty()) {
      out.clear();
      return false;
    }
    out[std::string(fields[5])] = e;
  }
  return true;
}

}  // namespace sv
