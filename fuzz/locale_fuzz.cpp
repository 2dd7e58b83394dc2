// Reads arbitrary bytes as a skin's language file: a file that loads keeps every key upper case
// and the built-in texts it does not override; and the builder's rewrite of the file, given
// values full of characters that need escaping, reads back as exactly those values.
#include <cstdint>
#include <map>
#include <string>

#include "fuzz/fuzz_check.h"
#include "skin/locale_table.h"

using sv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes = sv::fuzz::Bytes(data, size);
  sv::LocaleTable table;
  const size_t builtIn = table.entries.size();
  std::wstring error;
  if (table.loadFile(bytes, &error)) {
    Check(table.entries.size() >= builtIn);
    for (const auto& [key, text] : table.entries) {
      for (char c : key) Check(!(c >= 'a' && c <= 'z'));
    }
  } else {
    Check(!error.empty() && table.entries.size() == builtIn);
  }

  const std::map<std::string, std::wstring> overrides = {
      {"TORRENT_MAIN", L"A & B < C > \"D\" 'E' \\n \\ \u0130\u015f"},
      {"ZZ_NEW_KEY", L"%s tamam"},
  };
  const std::string rewritten = sv::writeLocaleFile(bytes, overrides);
  sv::LocaleTable reread;
  if (!reread.loadFile(rewritten, &error)) return 0;  // a file that did not parse stays broken
  for (const auto& [key, value] : overrides) Check(reread.text(key) == value);
  return 0;
}
