#pragma once
// Small helpers for the names inside a skin: locale keys and control ids are upper case, package
// entries lower case, and file types are told by the name's ending.
#include <string>
#include <string_view>

namespace sv {

inline std::string upperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  }
  return out;
}

inline bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

}  // namespace sv
