#pragma once
// The table of user-visible texts, looked up by key. It starts from the built-in Turkish texts;
// a skin's language file overrides them or adds keys. Keys are ASCII upper-cased on every insert
// and lookup.
#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

struct LocaleDefault {
  const char* key;
  const wchar_t* text;
};

// The built-in entries in table order.
const std::vector<LocaleDefault>& builtInLocaleTexts();

class LocaleTable {
public:
  // A new table holds the built-in texts.
  LocaleTable() { loadDefaults(); }

  // Clears the table and inserts the built-in texts.
  void loadDefaults();
  // Applies a language file (UTF-8 XML): every <string key="...">value</string> child of the root
  // sets its key. False when the XML does not parse; the table is then unchanged and errorOut
  // holds the parser's error text.
  bool loadFile(std::string_view bytes, std::wstring* errorOut = nullptr);

  bool contains(std::string_view key) const;
  // The entry, or "" when the key is absent.
  std::wstring text(std::string_view key) const;
  std::wstring textOr(std::string_view key, std::wstring_view fallback) const;
  // formatTemplate over text(key): each placeholder takes the next ready-made string.
  std::wstring format(std::string_view key, const std::vector<std::wstring>& args) const;
  void set(std::string_view key, std::wstring value);

  std::map<std::string, std::wstring> entries;  // upper-case key -> text
};

// Language-file escapes: \n is a line break, \\ \' \" the second character; any other backslash
// stays as written.
std::wstring unescapeLocaleText(std::wstring_view text);

// Rewrites a language file so that it carries the given key -> value pairs (keys upper-case),
// changing nothing but the content of the matching <string> elements and adding lines for the
// missing keys, in key order, in front of the root's closing tag (an empty root element is opened
// up; a file that does not parse gets them in front of its last "</torrent_locale>", if any), and
// an empty text becomes a complete torrent_locale document. Backslashes in values are written
// doubled so that they read back as written.
std::string writeLocaleFile(std::string_view existingText,
                            const std::map<std::string, std::wstring>& overrides);

}  // namespace sv
