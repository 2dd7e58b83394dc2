#include "release/release_manifest.h"

#include <charconv>
#include <cstdio>
#include <vector>

#include "release/base64.h"

namespace sv {

namespace {

constexpr char kMagic[] = "sarvik-release 1";
constexpr char kSignatureTag[] = "signature ";

std::string ObjectText(const ReleaseObject& object) {
  return DigestHex(object.digest) + ' ' + std::to_string(object.size);
}

bool ParseUnsigned(std::string_view text, uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

// "HEX SIZE" at the start of `rest`; what follows is left in `rest`.
bool ParseObject(std::string_view& rest, ReleaseObject& object) {
  const size_t space = rest.find(' ');
  if (space == std::string_view::npos || !ParseDigestHex(rest.substr(0, space), object.digest)) {
    return false;
  }
  rest.remove_prefix(space + 1);
  const size_t end = rest.find(' ');
  if (!ParseUnsigned(rest.substr(0, end), object.size)) return false;
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return true;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = unsigned(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + int64_t(doe) - 719468;
}

}  // namespace

ReleaseObject ReleaseObjectOf(std::string_view bytes) { return {Sha256Of(bytes), bytes.size()}; }

std::string FormatManifestBody(const ReleaseManifest& manifest) {
  std::string text = std::string(kMagic) + "\n";
  text += "release " + std::to_string(manifest.release) + "\n";
  text += "expires " + FormatUtcTime(manifest.expires) + "\n";
  if (manifest.nextKey) text += "next-key " + ReleaseKeyText(*manifest.nextKey) + "\n";
  text += "config " + ObjectText(manifest.config) + "\n";
  for (const auto& [source, object] : manifest.lists) {
    text += "list " + ObjectText(object) + " " + source + "\n";
  }
  if (manifest.patcher) text += "patcher " + ObjectText(*manifest.patcher) + "\n";
  return text;
}

std::string FormatSignedManifest(const std::string& body, const ReleaseSignature& signature) {
  return body + kSignatureTag + EncodeBase64(signature.data(), signature.size()) + "\n";
}

bool ParseSignedManifest(std::string_view text, ReleaseManifest& manifest, std::string_view& body,
                         ReleaseSignature& signature, std::string& error) {
  manifest = ReleaseManifest();
  error = "not a release manifest";
  const size_t tag = text.rfind(std::string("\n") + kSignatureTag);
  if (text.substr(0, sizeof(kMagic)) != std::string(kMagic) + "\n" || tag == std::string_view::npos) {
    return false;
  }
  body = text.substr(0, tag + 1);
  std::string_view sigLine = text.substr(tag + 1 + sizeof(kSignatureTag) - 1);
  if (!sigLine.empty() && sigLine.back() == '\n') sigLine.remove_suffix(1);
  std::vector<uint8_t> sig;
  if (!DecodeBase64(sigLine, sig) || sig.size() != signature.size()) {
    error = "the signature line is damaged";
    return false;
  }
  std::copy(sig.begin(), sig.end(), signature.begin());

  bool haveRelease = false, haveExpires = false, haveConfig = false;
  std::string_view rest = body.substr(sizeof(kMagic));
  size_t number = 1;
  while (!rest.empty()) {
    ++number;
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    const size_t space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    std::string_view value = space == std::string_view::npos ? std::string_view()
                                                             : line.substr(space + 1);
    bool ok = false;
    if (key == "release" && !haveRelease) {
      ok = haveRelease = ParseUnsigned(value, manifest.release);
    } else if (key == "expires" && !haveExpires) {
      ok = haveExpires = ParseUtcTime(value, manifest.expires);
    } else if (key == "config" && !haveConfig) {
      ok = haveConfig = ParseObject(value, manifest.config) && value.empty();
    } else if (key == "list") {
      ReleaseObject object;
      ok = ParseObject(value, object) && !value.empty() &&
           manifest.lists.emplace(std::string(value), object).second;
    } else if (key == "patcher" && !manifest.patcher) {
      ReleaseObject object;
      ok = ParseObject(value, object) && value.empty();
      manifest.patcher = object;
    } else if (key == "next-key" && !manifest.nextKey) {
      ReleaseKey next;
      ok = ParseReleaseKeyText(value, next);
      manifest.nextKey = next;
    }
    if (!ok) {
      error = "line " + std::to_string(number) + " is not understood";
      return false;
    }
  }
  if (!haveRelease || !haveExpires || !haveConfig) {
    error = "release, expires or config is missing";
    return false;
  }
  return true;
}

std::string FormatUtcTime(int64_t seconds) {
  int64_t days = seconds / 86400;
  int64_t rem = seconds % 86400;
  if (rem < 0) rem += 86400, --days;
  // Civil date from days (Howard Hinnant's algorithm).
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const unsigned doe = unsigned(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  const int64_t y = int64_t(yoe) + era * 400 + (m <= 2);
  char text[64];
  std::snprintf(text, sizeof(text), "%04lld-%02u-%02uT%02u:%02u:%02uZ", (long long)y, m, d,
                unsigned(rem / 3600), unsigned(rem / 60 % 60), unsigned(rem % 60));
  return text;
}

bool ParseUtcTime(std::string_view text, int64_t& seconds) {
  // Exactly YYYY-MM-DDTHH:MM:SSZ.
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
      text[13] != ':' || text[16] != ':' || text[19] != 'Z') {
    return false;
  }
  uint64_t y, mo, d, h, mi, s;
  if (!ParseUnsigned(text.substr(0, 4), y) || !ParseUnsigned(text.substr(5, 2), mo) ||
      !ParseUnsigned(text.substr(8, 2), d) || !ParseUnsigned(text.substr(11, 2), h) ||
      !ParseUnsigned(text.substr(14, 2), mi) || !ParseUnsigned(text.substr(17, 2), s) ||
      mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59) {
    return false;
  }
  seconds = DaysFromCivil(int64_t(y), unsigned(mo), unsigned(d)) * 86400 +
            int64_t(h * 3600 + mi * 60 + s);
  return true;
}

}  // namespace sv
