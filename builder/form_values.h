#pragma once
// The builder window's values apart from the window: what its fields hold, how a loaded skin
// pre-fills them, and how they become the session file and come back from it. The window only
// copies between these values and its controls.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "builder/session.h"
#include "builder/skin_import.h"

namespace sv {

struct FormValues {
  FormValues();  // every field at its initial value

  std::map<int, std::wstring> text;    // edit id -> text (the password included)
  std::map<int, std::wstring> links;   // link control index -> URL
  std::wstring skinPath, iconPath;
  int32_t connections = 4;
  bool closeOnStart = true, autoStart = false, allowError = false, browserEmulation = true;
  bool sign = false;

  const std::wstring& field(int id) const;
  // The segment field read as a number, at least 1.
  int32_t segmentMb() const;
};

constexpr const char* kSessionHeader = "; Sarvik Olusturucu - son oturum (parola kaydedilmez)\r\n";
constexpr const wchar_t* kSessionFileName = L"olusturucu.ini";

// The session file's text: the header, then key=value lines in their fixed order, CR LF, UTF-8;
// switches as 1 or 0, then one link.N line per link; never the password.
std::string SessionText(const FormValues& values);

// The values as a session, the form the headless build reads: the window and the headless build
// then assemble the same request from the same values.
BuilderSession ToSession(const FormValues& values);

// A loaded skin's values in the fields: addresses, title, behaviour and links; the product name
// from the title when empty, the output name when empty, and the output path beside the skin
// unless `restoring` (a restored session keeps its own).
void PrefillFromSkin(FormValues& values, const SkinImport& skin, bool restoring);

// After the skin's links changed under the operator (a dropped skin.xml): a link whose control id
// had a value the operator changed keeps that value at its new position; every other link takes
// the skin's own. Links are matched by id, never by position, so no address moves to another
// button. The first link of an id takes its value when ids repeat; a link without an id cannot be
// matched and takes the skin's value.
void CarryLinksOver(FormValues& values, const std::vector<ButtonLink>& before, const std::vector<ButtonLink>& after);

struct RestoreHooks {
  std::function<bool(const std::wstring&)> iconUsable;   // the icon file exists and is taken
  std::function<bool(const std::wstring&)> skinExists;   // an existing file or folder
  std::function<bool(const std::wstring&)> loadSkin;     // loads and pre-fills (restore mode)
};

// Applies a session read from disk: identity and certificate fields, the icon, then the skin and
// the values it pre-filled overridden by the session, then the output path and signing (only
// "1" switches it on). A skin that does not load leaves every saved value in place, its path
// included. Returns true when the skin was loaded.
bool ApplySession(FormValues& values, const BuilderSession& session, const RestoreHooks& hooks);

}  // namespace sv
