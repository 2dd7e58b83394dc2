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

// One record: CRC, size, modification time, level, .lz size and path, tab-separated (a path may
// hold spaces but never a tab or a line break).
std::string FormatLine(const std::string& path, const ManifestEntry& e) {
  return FormatCrc32(e.crc) + '\t' + std::to_string(e.size) + '\t' + std::to_string(e.modified) +
         '\t' + std::to_string(e.level) + '\t' + std::to_string(e.lzSize) + '\t' + path + '\n';
}

bool ParseLine(std::string_view line, std::string& path, ManifestEntry& e) {
  std::string_view fields[6];
  for (int i = 0; i < 5; ++i) {
    size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return false;
    fields[i] = line.substr(0, tab);
    line.remove_prefix(tab + 1);
  }
  fields[5] = line;
  path.assign(fields[5]);
  return ParseHex32(fields[0], e.crc) && ParseNumber(fields[1], e.size) &&
         ParseNumber(fields[2], e.modified) && ParseNumber(fields[3], e.level) &&
         ParseNumber(fields[4], e.lzSize) && !fields[5].empty();
}

}  // namespace

std::string FormatManifest(const Manifest& manifest) {
  std::string text(kHeader);
  for (const auto& [path, e] : manifest) text += FormatLine(path, e);
  return text;
}

bool ParseManifest(std::string_view text, Manifest& out) {
  out.clear();
  if (text.substr(0, kHeader.size()) != kHeader) return false;
  text.remove_prefix(kHeader.size());
  while (!text.empty()) {
    size_t eol = text.find('\n');
    std::string path;
    ManifestEntry e;
    if (eol == std::string_view::npos || !ParseLine(text.substr(0, eol), path, e)) {
      out.clear();
      return false;
    }
    text.remove_prefix(eol + 1);
    out[path] = e;
  }
  return true;
}

std::string FormatJournalReplacing(const std::string& path) { return "-\t" + path + "\n"; }

std::string FormatJournalReplaced(const std::string& path, const ManifestEntry& entry) {
  return "+\t" + FormatLine(path, entry);
}

void ApplyJournal(std::string_view text, Manifest& manifest) {
  // A line cut short by a stop is left out: a "-" line is written before its .lz is touched,
  // and a "+" line that did not get written leaves the "-" before it in force.
  for (size_t eol; (eol = text.find('\n')) != std::string_view::npos; text.remove_prefix(eol + 1)) {
    std::string_view line = text.substr(0, eol);
    if (line.size() < 3 || line[1] != '\t') continue;
    if (line[0] == '-') {
      ManifestEntry& e = manifest[std::string(line.substr(2))];
      e.lzSize = kUnknownLzSize;
    } else if (line[0] == '+') {
      std::string path;
      ManifestEntry e;
      if (ParseLine(line.substr(2), path, e)) manifest[path] = e;
    }
  }
}

}  // namespace sv
