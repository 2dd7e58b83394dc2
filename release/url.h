#pragma once
// Building download addresses: percent-encoding of file paths, joining a base URL with a relative
// part, and appending cache-busting query parameters. Wide forms for the engine's URLs, narrow
// (UTF-8) forms for tools that work in bytes.
#include <string>
#include <string_view>

namespace sv {

// Keeps A-Z a-z 0-9 - _ . ~ /; every other byte becomes %XX with upper-case hex digits.
std::string percentEncodePath(std::string_view bytes);

// Drops every leading '/' of rest; an empty base gives rest; otherwise exactly one '/' between
// the two (none added when base already ends in '/').
std::wstring joinUrl(std::wstring_view base, std::wstring_view rest);
std::string joinUrl(std::string_view base, std::string_view rest);

// A download source's base: crcpatch_url with its crcversion folder, ending in '/'. The signed
// release names each list by this text, so the patcher and the release tool derive it here alone.
std::wstring sourceBaseUrl(std::wstring_view url, std::wstring_view version);
// Set to "1" on a download source by a versioned build: nothing in that version folder ever
// changes, so a patcher may fetch its lists through caches without a cache-busting query.
constexpr char kImmutableVersionAttribute[] = "sv_version_immutable";
// The address of a file beside the document at `url` (its query left out); empty when `url`
// names no folder.
std::wstring siblingUrl(std::wstring_view url, std::wstring_view name);

// Appends "name=value" with '&' or '?', keeping a "#fragment" at the end.
std::wstring addQueryParam(std::wstring_view url, std::wstring_view param);
std::string addQueryParam(std::string_view url, std::string_view param);

}  // namespace sv
