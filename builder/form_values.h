#pragma once
// The builder window's values apart from the window: one record keyed by what each value is (its
// session key: "title", "conn", "skin", "link.WEBSITE", "lang.LAUNCHER_NEW_URL", ...). The edit
// controls, the session file, the headless build's session and the skin edits all read this one
// record; nothing keeps a second copy in step by hand, and nothing is matched by position, so a
// skin change cannot move a value to another button.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "builder/session.h"
#include "builder/skin_import.h"

namespace sv {

// Session keys of the values that are no text fields (the text fields' keys are in kFormFields).
constexpr const char* kKeySkin = "skin";
constexpr const char* kKeyIcon = "icon";
constexpr const char* kKeyConnections = "conn";
constexpr const char* kKeyCloseOnStart = "close_on_start";
constexpr const char* kKeyAutoStart = "auto_start";
constexpr const char* kKeyAllowError = "allow_error";
constexpr const char* kKeyBrowserEmu = "browser_emu";
constexpr const char* kKeySign = "sign";

struct FormValues {
  FormValues();  // every value at its initial value

  std::map<std::string, std::wstring, std::less<>> values;  // session key -> value
  std::wstring password;  // the certificate password: never part of a session

  const std::wstring& get(std::string_view key) const;  // "" when absent
  void set(std::string_view key, std::wstring value);
  bool flag(std::string_view key) const { return get(key) == L"1"; }
  void setFlag(std::string_view key, bool on) { set(key, on ? L"1" : L"0"); }
  // The text of the edit control with this id, through its field's key (the password apart).
  const std::wstring& field(int id) const;
  void setField(int id, std::wstring value);

  int32_t connections() const;  // 1-8, else 4
  int32_t segmentMb() const;    // the segment field read as a number, at least 1
};

constexpr const char* kSessionHeader = "; Sarvik Olusturucu - son oturum (parola kaydedilmez)\r\n";
constexpr const wchar_t* kSessionFileName = L"olusturucu.ini";

// The session file's text: the header, then key=value lines, CR LF, UTF-8: the fixed keys in
// their fixed order, then every other key (the links) in key order; never the password.
std::string SessionText(const FormValues& values);

// The values as a session, the form the headless build reads (each value on one line, as the file
// holds it): the window and the headless build then assemble the same request from the same values.
BuilderSession ToSession(const FormValues& values);

// What a skin says about the values it pre-fills, by session key: addresses, title, behaviour and
// one value per link key.
std::map<std::string, std::wstring> SkinValues(const SkinImport& skin);

// A loaded skin's values in the record: addresses, title, behaviour and links (the links of
// another skin go); the product name from the title when empty, the output name when empty, and
// the output path beside the skin unless `restoring` (a restored session keeps its own).
void PrefillFromSkin(FormValues& values, const SkinImport& skin, bool restoring);

// After the skin changed under the operator (files dropped onto it): a value the operator
// changed from what the skin gave before keeps the operator's value; every other value takes the
// skin's new one, and links the skin no longer has go. Values are matched by key (a link by its
// control id or language key), never by position.
void CarrySkinValuesOver(FormValues& values, const std::map<std::string, std::wstring>& before,
                         const std::map<std::string, std::wstring>& after);

struct RestoreHooks {
  std::function<bool(const std::wstring&)> iconUsable;  // the icon file exists and is taken
  std::function<bool(const std::wstring&)> skinExists;  // an existing file or folder
  // Loads and pre-fills (restore mode); the loaded skin, or null when it did not load.
  std::function<const SkinImport*(const std::wstring&)> loadSkin;
};

// Applies a session read from disk: identity, certificate and release-key fields, the icon, then
// the skin and the values it pre-filled overridden by the session, then the output path and
// signing (only "1" switches it on). A skin that does not load leaves every saved value in place,
// its path and its links included. Returns true when the skin was loaded.
bool ApplySession(FormValues& values, const BuilderSession& session, const RestoreHooks& hooks);

}  // namespace sv
