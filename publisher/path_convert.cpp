#include "publisher/path_convert.h"

#include <system_error>

#include "common/text.h"

namespace sv {

std::filesystem::path PathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

namespace {

template <typename Convert>
bool ToUtf8(Convert convert, std::string& out) {
  try {
    std::u8string s = convert();
    out.assign(s.begin(), s.end());
  } catch (const std::system_error&) {
    return false;
  }
  return isValidUtf8(out);
}

}  // namespace

bool Utf8FromPath(const std::filesystem::path& p, std::string& out) {
  return ToUtf8([&] { return p.u8string(); }, out);
}

bool GenericUtf8FromPath(const std::filesystem::path& p, std::string& out) {
  return ToUtf8([&] { return p.generic_u8string(); }, out);
}

std::wstring WideFromPath(const std::filesystem::path& p) {
  std::string utf8;
  return Utf8FromPath(p, utf8) ? toWide(utf8) : std::wstring();
}

}  // namespace sv
