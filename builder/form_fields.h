#pragma once
// What the builder window asks for: its sections and its text fields, with the texts the operator
// sees and the session keys they are remembered under.
#include <array>
#include <string>
#include <string_view>

namespace sv {

struct FormSection {
  const wchar_t* title;
  const wchar_t* subtitle;
  const wchar_t* help;
  const char* key;  // snapshot file names
  int icon;         // index into the outline icon set
};

constexpr int kSectionCount = 6;
constexpr int kSectionSource = 0, kSectionLinks = 1, kSectionBehaviour = 2, kSectionIdentity = 3,
              kSectionOutput = 4, kSectionBuild = 5;
extern const std::array<FormSection, kSectionCount> kFormSections;

// Edit control ids; link fields follow from kLinkFieldBase, one per button link.
enum FieldId : int {
  kFieldConfigUrl = 1100,
  kFieldNewsUrl = 1101,
  kFieldTitle = 1102,
  kFieldSegment = 1103,
  kFieldRunArgs = 1104,
  kFieldOutName = 1105,
  kFieldProduct = 1106,
  kFieldCompany = 1107,
  kFieldVersion = 1108,
  kFieldCopyright = 1109,
  kFieldOutPath = 1110,
  kFieldPfx = 1111,
  kFieldPassword = 1112,
  kFieldTimestamp = 1113,
  kFieldFeedUrl = 1114,
  kFieldReleaseKey = 1115,
  kFieldMaxKbps = 1116,
  kLinkFieldBase = 1200,
};

struct FormField {
  int id;
  int section;
  const wchar_t* label;    // "" for the segment field, which sits in its stepper
  const wchar_t* help;     // "" when none
  const wchar_t* cue;      // grey text of an empty field
  const wchar_t* initial;
  const char* sessionKey;  // "" for the password, which is never stored
};

constexpr int kFieldCount = 17;
extern const std::array<FormField, kFieldCount> kFormFields;

// The field with this id, or null.
const FormField* FindField(int id);
// The field stored under this session key, or null.
const FormField* FindFieldByKey(std::string_view key);

constexpr const wchar_t* kDefaultTimestampUrl = L"http://timestamp.digicert.com";
constexpr const wchar_t* kDefaultOutputName = L"Draskel.exe";

}  // namespace sv
