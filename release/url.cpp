#include "release/url.h"

namespace sv {

namespace {

bool IsUnreservedPathByte(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c == '.' || c == '~' || c == '/';
}

template <typename C>
std::basic_string<C> JoinUrlImpl(std::basic_string_view<C> base, std::basic_string_view<C> rest) {
  size_t skip = 0;
  while (skip < rest.size() && rest[skip] == C('/')) ++skip;
  rest.remove_prefix(skip);
  std::basic_string<C> result(base);
  if (!base.empty() && base.back() != C('/')) result += C('/');
  result += rest;
  return result;
}

template <typename C>
std::basic_string<C> AddQueryParamImpl(std::basic_string_view<C> url,
                                       std::basic_string_view<C> param) {
  size_t hash = url.find(C('#'));
  std::basic_string_view<C> fragment;
  if (hash != url.npos) {
    fragment = url.substr(hash);
    url = url.substr(0, hash);
  }
  std::basic_string<C> result(url);
  result += url.find(C('?')) != url.npos ? C('&') : C('?');
  result += param;
  result += fragment;
  return result;
}

}  // namespace

std::string percentEncodePath(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    unsigned char c = static_cast<unsigned char>(ch);
    if (IsUnreservedPathByte(c)) {
      out += ch;
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

std::wstring joinUrl(std::wstring_view base, std::wstring_view rest) {
  return JoinUrlImpl(base, rest);
}
std::string joinUrl(std::string_view base, std::string_view rest) {
  return JoinUrlImpl(base, rest);
}

std::wstring sourceBaseUrl(std::wstring_view url, std::wstring_view version) {
  auto withSlash = [](std::wstring text) {
    if (text.empty() || text.back() != L'/') text += L'/';
    return text;
  };
  std::wstring source = withSlash(std::wstring(url));
  // A version written with its own trailing slash must not yield "//".
  if (!version.empty()) source = withSlash(joinUrl(source, version));
  return source;
}

std::wstring siblingUrl(std::wstring_view url, std::wstring_view name) {
  // The last '/' of a folder URL must lie behind the "scheme://" slashes.
  constexpr size_t kMinFolderSlashIndex = 9;
  const std::wstring_view beforeQuery = url.substr(0, url.find(L'?'));
  const size_t slash = beforeQuery.rfind(L'/');
  if (slash == std::wstring_view::npos || slash < kMinFolderSlashIndex) return L"";
  return std::wstring(beforeQuery.substr(0, slash + 1)) + std::wstring(name);
}

std::wstring addQueryParam(std::wstring_view url, std::wstring_view param) {
  return AddQueryParamImpl(url, param);
}
std::string addQueryParam(std::string_view url, std::string_view param) {
  return AddQueryParamImpl(url, param);
}

}  // namespace sv
