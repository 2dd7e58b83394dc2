#pragma once
// The builder's loaded skin: its package entries, read from a zip file, a folder or dropped
// files, and what the skin itself says about the values that pre-fill the builder's fields.
#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "skin/patcher_settings.h"
#include "skin/skin_package.h"

namespace sv {

// The session key of the news page field. It is also the key of every link that shows the
// language string LAUNCHER_IFRAME (the news area): the field and such a link are one value.
constexpr const char* kNewsPageKey = "iframe_url";

// One control of skin.xml that opens a page.
struct ButtonLink {
  int controlIndex = 0;      // among all <control> elements, in document order, from 0
  std::string id;
  std::string image;
  std::string languageKey;   // upper case; "" when the URL comes from skin.xml
  bool fromLanguageFile = false;
  std::wstring url;
  // Where the operator's value for this link lives, keyed by what the link is: kNewsPageKey for
  // the news area, "lang." + the language key for any other language string, "link." + the
  // upper-cased control id for an address in skin.xml ("link.#" + the control index when the
  // control has no id). Links with one key share one value; a value never follows a position.
  std::string key;
};

// True for the session keys of button links ("link." and "lang."); the news page is a field.
bool IsLinkKey(std::string_view key);

// The operator's values that the build writes back into the skin's files.
struct SkinFields {
  std::wstring configUrl;
  std::wstring newsUrl;                          // the language string LAUNCHER_IFRAME
  std::wstring feedUrl;
  PatcherSettings settings;                      // written whole as sarvik.ini
  std::map<std::string, std::wstring> linkUrls;  // ButtonLink::key -> URL; absent: the link's own
};

class SkinImport {
public:
  // Clears everything and reads a folder or a ".zip" file; on success analyses the skin. A set
  // *cancel ends a zip's read early (the load fails).
  bool LoadSkin(const std::wstring& path, std::wstring* errorOut = nullptr,
                const std::atomic<bool>* cancel = nullptr);
  // Adds folders, zips and single files to the current entries. Returns the number of entries
  // added; the first error text goes to noteOut.
  int AddDroppedItems(const std::vector<std::wstring>& paths, std::wstring* noteOut = nullptr);
  // Fills the imported values and the links from the entries.
  void AnalyseSkin();
  // The values the skin pre-fills, as fields (the starting point of the operator's edits).
  SkinFields ImportedFields() const;
  // The first link of every key, in document order: one field per value.
  std::vector<ButtonLink> LinkFields() const;

  SkinPackageBuilder entries;
  std::wstring sourcePath;
  bool loaded = false;
  std::string urlFileName;
  std::string localeFileName;
  std::wstring importedConfigUrl;
  std::wstring importedNewsUrl;
  std::wstring importedFeedUrl;
  bool hasFeedArea = false;
  bool hasWebArea = false;
  PatcherSettings settings;
  std::vector<ButtonLink> links;
  // From the skin-definition reader: window size, warnings, or why the skin does not load.
  int32_t width = 0, height = 0;
  std::vector<std::wstring> warnings;
  std::wstring definitionError;

private:
  void Clear();
};

// The entries with the fields written back into the URL file, skin.xml, the language file and
// sarvik.ini; a file stays byte-for-byte as it was where nothing differs.
SkinPackageBuilder ApplyEdits(const SkinImport& skin, const SkinFields& fields);

// ApplyEdits, then the edited skin checked with the skin-definition reader and serialised. What
// the patcher will read decides: a configuration address, news page or button address that the
// edited files do not give the patcher refuses the build with a line naming it.
bool BuildSkinPackage(const SkinImport& skin, const SkinFields& fields, std::string& packageOut,
                      std::wstring* errorOut = nullptr);

}  // namespace sv
