#pragma once
// A skin in the TorrentPatch layout, read from a skin package: window size and background, the
// controls of skin.xml in order with their resolved texts, colours, fonts and images, the server
// paths of the URL file, the locale table and the patcher settings.
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "skin/locale_table.h"
#include "skin/patcher_settings.h"
#include "skin/skin_image.h"
#include "skin/skin_package.h"

namespace sv {

struct XmlNode;

enum class ControlKind { Button = 0, Text = 1, Gauge = 2, Frame = 3, Picture = 4, None = 5 };
enum class TextAlign { Left = 0, Center = 1, Right = 2 };

constexpr uint32_t kDefaultTextColor = 0xFFFFFFFF;
constexpr uint32_t kDefaultShadowColor = 0xFF000000;

struct SkinControl {
  ControlKind kind = ControlKind::None;
  std::string id;             // trimmed, upper case
  int32_t x = 0, y = 0;
  int32_t width = 0;          // width (else w): a text's layout width
  std::string image;          // the image attribute as written
  std::wstring link;          // link_url through the locale, trimmed
  std::wstring execPath;
  bool enableOnComplete = false;
  std::wstring text;          // through the locale, not trimmed
  uint32_t color = kDefaultTextColor;
  uint32_t shadowColor = kDefaultShadowColor;
  bool hasShadow = false;
  bool bold = false;
  int32_t fontSize = 12;      // 6 ... 96
  std::wstring fontName = L"Tahoma";
  TextAlign align = TextAlign::Left;

  // Buttons: normal, hover, pressed, disabled, after the fallbacks. Pictures use `normal`.
  const SkinImage* normal = nullptr;
  const SkinImage* hover = nullptr;
  const SkinImage* pressed = nullptr;
  const SkinImage* disabled = nullptr;
  // True when `disabled` is a separate image rather than the normal one.
  bool hasDisabledImage = false;
  // Gauges: the empty image may be missing.
  const SkinImage* full = nullptr;
  const SkinImage* empty = nullptr;
  // The control's rectangle for buttons, gauges, frames and pictures (rules per kind).
  int32_t boxWidth = 0, boxHeight = 0;
};

class SkinDefinition {
public:
  SkinDefinition() = default;
  // Controls point into the image cache, so a definition is moved, never copied.
  SkinDefinition(const SkinDefinition&) = delete;
  SkinDefinition& operator=(const SkinDefinition&) = delete;
  SkinDefinition(SkinDefinition&&) = default;
  SkinDefinition& operator=(SkinDefinition&&) = default;

  // Reads the whole skin. False with the reason in errorOut for: no URL file, a URL file or
  // skin.xml that does not parse, no skin.xml, no usable background image. Everything else uses
  // defaults, and some of it adds to `warnings`. The package must outlive the call only.
  bool load(const SkinPackage& package, std::wstring* errorOut = nullptr);

  std::wstring text(std::string_view key) const { return locale.text(key); }
  std::wstring format(std::string_view key, const std::vector<std::wstring>& args) const {
    return locale.format(key, args);
  }
  // A package image by its skin name (extension optional), decoded once; null when the package
  // has no such image or it does not decode (a warning then). Only during load() or for names
  // already decoded, unless setPackage() keeps a package at hand.
  const SkinImage* image(std::string_view name);
  // The package image() reads from; load() sets it for its own duration.
  void setPackage(const SkinPackage* package) { package_ = package; }

  // The control with this id (upper case), or null.
  const SkinControl* findControl(std::string_view id) const;

  // The entry names of the URL and language files, "" when the package has none.
  static std::string findUrlFile(const SkinPackage& package);
  static std::string findLocaleFile(const SkinPackage& package, std::wstring_view languagePath);
  // The entry an image name refers to ("" when none): the name trimmed and lower-cased, as it is
  // when it has an image ending, else with .png, .jpg, .jpeg, .bmp, .gif tried in that order.
  static std::string resolveImageName(const SkinPackage& package, std::string_view name);

  int32_t width = 0, height = 0;
  const SkinImage* background = nullptr;
  // The background has transparent pixels: the window is drawn layered, with per-pixel alpha.
  bool transparent = false;
  std::vector<SkinControl> controls;
  LocaleTable locale;
  std::wstring remoteConfigPath;
  std::wstring localConfigPath = L"draskeltorrent.config.xml";
  std::wstring languagePath = L"TorrentPatch.locale.xml";
  PatcherSettings settings;
  std::wstring feedUrl;
  int32_t feedRefreshSeconds = 60;
  std::string skinFileName, urlFileName, localeFileName;
  std::vector<std::wstring> warnings;

private:
  void clear();
  void readControl(const XmlNode& node);
  void readButton(const XmlNode& node, SkinControl& control);
  void readGauge(const XmlNode& node, SkinControl& control);
  std::wstring resolveText(const std::string& attribute) const;

  const SkinPackage* package_ = nullptr;
  std::map<std::string, std::unique_ptr<SkinImage>> images_;  // entry name -> decoded image
  std::set<std::string> failedImages_;  // entries that did not decode: warned about once
  uint64_t decodedPixels_ = 0;          // of every image in images_, against the skin's limit
};

// A colour attribute: optional '#', then RRGGBB (opaque) or AARRGGBB; false leaves argbOut as is.
bool parseSkinColor(std::string_view text, uint32_t& argbOut);

}  // namespace sv
