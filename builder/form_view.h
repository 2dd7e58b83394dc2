#pragma once
// What the builder window shows, apart from drawing it: every card, text, button, switch and
// field position of the selected section, the section list, the preview panel and the status
// line, laid out for a client size and DPI. The window paints these items, places its edit
// controls on the Edit items and hit-tests the ones with a command.
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

struct ViewRect {
  int32_t x = 0, y = 0, w = 0, h = 0;
  int32_t right() const { return x + w; }
  int32_t bottom() const { return y + h; }
  bool contains(int32_t px, int32_t py) const { return px >= x && py >= y && px < x + w && py < y + h; }
  bool intersects(const ViewRect& o) const {
    return x < o.right() && o.x < right() && y < o.bottom() && o.y < bottom();
  }
  bool inside(const ViewRect& o) const { return x >= o.x && y >= o.y && right() <= o.right() && bottom() <= o.bottom(); }
};

enum class ItemKind {
  Sidebar, Brand, NavEntry, Card, SectionTitle, Heading, Help, Label, Text, Muted, Caps, TileValue, Mono,
  Button, PrimaryButton, Chip, Switch, DropZone, Icon, IconBox, Edit, Preview, PreviewPlaceholder, Badge,
  LogView, StatusBar, CheckRow
};

enum Tone : int { kToneNormal = 0, kToneSuccess = 1, kToneWarning = 2, kToneError = 3, kToneMuted = 4 };

// Commands of the drawn buttons.
enum Command : int {
  kCmdNone = 0,
  kCmdSection = 1,        // + section index
  kCmdPickZip = 20, kCmdPickFolder, kCmdPickIcon, kCmdRemoveIcon, kCmdPickOutput, kCmdPickPfx, kCmdBuild,
  kCmdPreview, kCmdShowFolder, kCmdCopyCrc, kCmdCopyCrcLine, kCmdCopyLog, kCmdSegMinus, kCmdSegPlus,
  kCmdSwitchCloseOnStart, kCmdSwitchAutoStart, kCmdSwitchAllowError, kCmdSwitchBrowserEmu, kCmdSwitchSign,
  kCmdConnection = 60,    // + 1 ... 8
  kCmdCancel = 70,        // ends the running build or skin load
  kCmdPickReleaseKey = 71,
};

struct ViewItem {
  ItemKind kind = ItemKind::Text;
  ViewRect rect;
  std::wstring text, detail;
  int command = kCmdNone;
  int field = 0;     // Edit: the control id
  int icon = -1;     // outline icon index
  int tone = kToneNormal;
  bool on = false;   // selected section, switch on, chosen connection count
  bool enabled = true;
  bool wrap = false;     // text breaks into lines inside its rectangle
  bool centred = false;
};

struct LinkRow {
  int controlIndex = 0;
  std::wstring id;
  bool fromLanguageFile = false;
  bool newsPage = false;  // the news area: the same value as the news page field
};

struct ViewState {
  int section = 0;
  bool busy = false;
  std::wstring busyText;  // what runs ("Oluşturuluyor…", "Skin yükleniyor… a.zip")
  int animation = 0;
  std::wstring status;
  bool statusError = false;

  bool skinLoaded = false;
  std::wstring skinName;
  int32_t skinWidth = 0, skinHeight = 0;
  bool transparent = false;
  int buttons = 0, texts = 0;
  std::vector<std::wstring> warnings;
  std::vector<std::wstring> entryNames;
  uint64_t packageBytes = 0;
  std::vector<LinkRow> links;

  int connections = 4;
  bool closeOnStart = false, autoStart = false, allowError = false, browserEmulation = false, sign = false;
  std::wstring iconPath, outputPath, configUrl, pfxPath, releaseKeyPath;
  bool templateFound = false;

  bool hasResult = false, resultOk = false, resultSigned = false;
  std::wstring resultMessage;
  uint32_t resultCrc = 0;
  uint64_t resultSize = 0, elapsedMs = 0;

  enum class Preview { None, Failed, Ready } preview = Preview::None;
  int32_t previewWidth = 0, previewHeight = 0;
  bool previewTransparent = false;
  size_t previewLinks = 0;
};

constexpr int32_t kClientWidth = 1320, kClientHeight = 820, kMinClientWidth = 1100, kMinClientHeight = 700;

// Every item of the window for a client area of width x height pixels at `dpi` (96 = 100 %).
std::vector<ViewItem> LayoutWindow(const ViewState& state, int32_t width, int32_t height, int32_t dpi);

// The topmost enabled item with a command at the point, or null.
const ViewItem* HitItem(const std::vector<ViewItem>& items, int32_t x, int32_t y);

std::wstring Hex8Text(uint32_t value);
std::wstring ElapsedText(uint64_t ms);  // "< 1 sn" under a second, else whole seconds + " sn"

}  // namespace sv
