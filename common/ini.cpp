#include "common/ini.h"

#include "common/text.h"

namespace sv {

namespace {

bool isCommentOrBlank(std::string_view line) {
  return line.empty() || line.front() == ';' || line.front() == '#';
}

// One pair of matching quotes around a value is removed; nothing inside is unescaped.
std::string unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

}  // namespace

IniValues parseIni(std::string_view bytes) {
  const std::string text = decodeTextToUtf8(bytes);
  IniValues values;
  std::string section;
  bool sectionSeen = false;  // an empty header "[]" still starts a section, named ""
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = trim(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (isCommentOrBlank(line)) continue;
    if (line.front() == '[') {
      const size_t close = line.find(']');
      const size_t length = close == std::string::npos ? std::string::npos : close - 1;
      section = toLowerAscii(trim(std::string_view(line).substr(1, length)));
      sectionSeen = true;
      continue;
    }
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    std::string key = toLowerAscii(trim(std::string_view(line).substr(0, equals)));
    if (sectionSeen) key = section + "." + key;
    values[key] = unquote(trim(std::string_view(line).substr(equals + 1)));
  }
  return values;
}

}  // namespace sv
