#include "builder/form_view.h"

#include <algorithm>
#include <cstdio>

#include "builder/form_fields.h"
#include "builder/outline_icons.h"
#include "builder/preview_model.h"
#include "common/path.h"
#include "common/text.h"

namespace sv {

namespace {

// Everything is laid out at 96 DPI and scaled at the end.
constexpr int32_t kSidebarWidth = 232;
constexpr int32_t kStatusHeight = 30;
constexpr int32_t kMargin = 20;
constexpr int32_t kCardPad = 20;
constexpr int32_t kCardGap = 14;
constexpr int32_t kCardsTop = 96;
constexpr int32_t kLabelH = 18, kEditH = 28, kHelpH = 16, kBlockGap = 12;

class Builder {
public:
  std::vector<ViewItem> items;

  ViewItem& Add(ItemKind kind, ViewRect rect, std::wstring text = {}, int tone = kToneNormal) {
    ViewItem item;
    item.kind = kind;
    item.rect = rect;
    item.text = std::move(text);
    item.tone = tone;
    items.push_back(std::move(item));
    return items.back();
  }
  ViewItem& Button(ItemKind kind, ViewRect rect, std::wstring text, int command, int icon = -1, bool enabled = true) {
    ViewItem& b = Add(kind, rect, std::move(text));
    b.command = command;
    b.icon = icon;
    b.enabled = enabled;
    return b;
  }
  ViewItem& Edit(ViewRect rect, int field, bool enabled = true) {
    ViewItem& e = Add(ItemKind::Edit, rect);
    e.field = field;
    e.enabled = enabled;
    return e;
  }
};

// A card: its frame is added now and sized when its body is done.
class Card {
public:
  Card(Builder& b, int32_t left, int32_t top, int32_t width, const std::wstring& heading,
       const std::wstring& help = {}, const std::wstring& detail = {})
      : b_(b), index_(b.items.size()), top_(top), x(left + kCardPad), w(width - 2 * kCardPad) {
    b.Add(ItemKind::Card, {left, top, width, 0});
    b.Add(ItemKind::Heading, {x, top + 16, w - (detail.empty() ? 0 : 170), 20}, heading);
    if (!detail.empty()) {
      ViewItem& d = b.Add(ItemKind::Muted, {x + w - 170, top + 18, 170, 18}, detail, kToneMuted);
      d.detail = L"right";
    }
    cursor = top + 44;
    if (!help.empty()) {
      b.Add(ItemKind::Help, {x, top + 38, w, kHelpH}, help, kToneMuted);
      cursor = top + 62;
    }
  }
  // Closes the card below the cursor; returns the y where the next card goes.
  int32_t End() {
    const int32_t bottom = cursor + kCardPad - kBlockGap / 2;
    b_.items[index_].rect.h = bottom - top_;
    return bottom + kCardGap;
  }
  void EndAt(int32_t bottom) { b_.items[index_].rect.h = bottom - top_; }
  // Room at the right of the heading for a button.
  void ReserveRight(int32_t width) { b_.items[index_ + 1].rect.w = w - width - 12; }

  // Label, edit and help of one text field, full width or in [x0, x0 + width).
  void Field(int id, bool enabled = true, int32_t x0 = -1, int32_t width = -1, int32_t editRightGap = 0) {
    const FormField* f = FindField(id);
    if (x0 < 0) x0 = x;
    if (width < 0) width = w;
    int32_t y = cursor;
    if (f && f->label[0]) {
      b_.Add(ItemKind::Label, {x0, y, width, kLabelH}, f->label);
      y += kLabelH + 4;
    }
    b_.Edit({x0, y, width - editRightGap, kEditH}, id, enabled);
    lastEdit = {x0, y, width - editRightGap, kEditH};
    y += kEditH;
    if (f && f->help[0]) {
      b_.Add(ItemKind::Help, {x0, y + 4, width, kHelpH}, f->help, kToneMuted);
      y += 4 + kHelpH;
    }
    fieldBottom = y;
  }
  void NextRow() { cursor = fieldBottom + kBlockGap; }

private:
  Builder& b_;
  size_t index_;
  int32_t top_;

public:
  int32_t x, w;
  int32_t cursor = 0, fieldBottom = 0;
  ViewRect lastEdit;
};

std::wstring OrDash(const std::wstring& text) { return text.empty() ? L"—" : text; }

void Sidebar(Builder& b, const ViewState& s, int32_t height) {
  b.Add(ItemKind::Sidebar, {0, 0, kSidebarWidth, height});
  ViewItem& brand = b.Add(ItemKind::Brand, {18, 20, kSidebarWidth - 26, 40}, L"Sarvik Oluşturucu");
  brand.detail = L"Patcher hazırlama aracı";
  brand.icon = kIconPackage;
  for (int i = 0; i < kSectionCount; ++i) {
    ViewItem& e = b.Button(ItemKind::NavEntry, {12, 84 + i * 58, kSidebarWidth - 24, 52}, kFormSections[i].title,
                           kCmdSection + i, kFormSections[i].icon);
    e.detail = kFormSections[i].subtitle;
    e.on = s.section == i;
  }
}

void StatusLine(Builder& b, const ViewState& s, int32_t width, int32_t height) {
  ViewItem& bar = b.Add(ItemKind::StatusBar, {0, height - kStatusHeight, width, kStatusHeight});
  if (s.busy) {
    static const wchar_t* kDots[] = {L"", L".", L"..", L"..."};
    bar.text = (s.busyText.empty() ? std::wstring(L"Oluşturuluyor…") : s.busyText) +
               std::wstring(kDots[(s.animation / 8) % 4]);
    bar.icon = kIconRefresh;
    // What runs can be stopped: the one command that stays enabled while busy.
    ViewItem& cancel = b.Button(ItemKind::Button, {width - 110, height - kStatusHeight + 3, 100, kStatusHeight - 6},
                                L"İptal", kCmdCancel, kIconMinus);
    cancel.tone = kToneError;
  } else if (s.status.empty()) {
    bar.text = L"Hazır";
    bar.detail = L"Ayarlar otomatik hatırlanır";
  } else {
    bar.text = s.status;
  }
  bar.tone = s.statusError ? kToneError : kToneNormal;
  bar.on = s.busy;
}

void PreviewPanel(Builder& b, const ViewState& s, ViewRect r) {
  b.Add(ItemKind::Card, r);
  const int32_t x = r.x + 18, w = r.w - 36;
  b.Add(ItemKind::Heading, {x, r.y + 16, w, 20}, L"Canlı önizleme");
  b.Add(ItemKind::Help, {x, r.y + 38, w, kHelpH}, L"Patcher ile aynı çizici", kToneMuted);
  int32_t imageH = w * 580 / 920;
  if (s.preview == ViewState::Preview::Ready && s.previewWidth > 0)
    imageH = int32_t(int64_t(w) * s.previewHeight / s.previewWidth);
  const int32_t maxImageH = r.bottom() - 66 - 3 * 22 - (r.y + 66);
  if (imageH > maxImageH) imageH = std::max<int32_t>(maxImageH, 40);
  const ViewRect image{x, r.y + 66, w, imageH};
  int32_t y = image.bottom() + 12;
  if (s.preview == ViewState::Preview::Ready) {
    b.Add(ItemKind::Preview, image);
    ViewItem& size = b.Add(ItemKind::Text, {x, y, w, 20}, PreviewSizeText(s.previewWidth, s.previewHeight));
    size.icon = kIconPicture;
    ViewItem& kind = b.Add(ItemKind::Text, {x, y + 22, w, 20}, PreviewWindowKindText(s.previewTransparent));
    kind.icon = kIconInfo;
    ViewItem& links = b.Add(ItemKind::Text, {x, y + 44, w, 20}, PreviewLinkText(s.previewLinks));
    links.icon = kIconLink;
  } else {
    ViewItem& box = b.Add(ItemKind::PreviewPlaceholder, image,
                          s.preview == ViewState::Preview::Failed ? kPreviewFailedText : kPreviewWaitingText,
                          s.preview == ViewState::Preview::Failed ? kToneError : kToneMuted);
    box.icon = s.preview == ViewState::Preview::Failed ? kIconWarning : kIconPicture;
    box.wrap = true;
    box.centred = true;
    if (s.preview == ViewState::Preview::None) {
      ViewItem& badge = b.Add(ItemKind::Badge, {x, y, 190, 22}, kPreviewWaitingBadge, kToneMuted);
      badge.icon = kIconInfo;
    }
  }
  b.Button(ItemKind::Button, {x, r.bottom() - 56, w, 38}, L"Patcher'ı önizle", kCmdPreview, kIconPlay,
           !s.busy && s.skinLoaded);
}

void SectionSource(Builder& b, const ViewState& s, int32_t cx, int32_t cw, int32_t bottom) {
  Card drop(b, cx, kCardsTop, cw, L"Skin paketi");
  const ViewRect zone{drop.x, drop.cursor, drop.w, 150};
  b.Add(ItemKind::DropZone, zone);
  ViewItem& icon = b.Add(ItemKind::Icon, {zone.x + zone.w / 2 - 14, zone.y + 12, 28, 28});
  icon.icon = kIconUpload;
  icon.tone = kToneSuccess;
  ViewItem& t = b.Add(ItemKind::Text, {zone.x + 12, zone.y + 46, zone.w - 24, 18},
                      L"Skin .zip dosyasını ya da klasörünü buraya sürükleyin");
  t.centred = true;
  ViewItem& h = b.Add(ItemKind::Help, {zone.x + 12, zone.y + 66, zone.w - 24, 32},
                      L"Tek tek görsel bırakırsanız pakete eklenir ya da aynı adlı görselin yerine geçer.", kToneMuted);
  h.centred = true;
  h.wrap = true;
  const int32_t bw = 132, gap = 10, bx = zone.x + (zone.w - 2 * bw - gap) / 2;
  b.Button(ItemKind::PrimaryButton, {bx, zone.y + 106, bw, 32}, s.skinLoaded ? L"Başka zip" : L"Zip seç",
           kCmdPickZip, kIconFolderOpen, !s.busy);
  b.Button(ItemKind::Button, {bx + bw + gap, zone.y + 106, bw, 32}, L"Klasör seç", kCmdPickFolder, kIconFolder,
           !s.busy);
  drop.cursor = zone.bottom() + kBlockGap;
  int32_t y = drop.End();

  Card sum(b, cx, y, cw, L"Skin özeti", L"Skinden okunan bilgiler ve uyarılar.",
           s.skinLoaded ? s.skinName : std::wstring());
  const int32_t tileW = (sum.w - 2 * 8) / 3, tileH = 46;
  const std::wstring values[6] = {
      s.skinLoaded ? formatInt64(s.skinWidth) + L" × " + formatInt64(s.skinHeight) : L"—",
      s.skinLoaded ? (s.transparent ? L"Saydam" : L"Opak") : L"—",
      s.skinLoaded ? formatInt64(s.buttons) : L"—",
      s.skinLoaded ? formatInt64(int64_t(s.links.size())) : L"—",
      s.skinLoaded ? formatInt64(s.texts) : L"—",
      s.skinLoaded ? formatInt64(int64_t(s.warnings.size())) : L"—"};
  const wchar_t* captions[6] = {L"BOYUT", L"PENCERE", L"BUTON", L"BAĞLANTI", L"METİN ALANI", L"UYARI"};
  for (int i = 0; i < 6; ++i) {
    const ViewRect tile{sum.x + (i % 3) * (tileW + 8), sum.cursor + (i / 3) * (tileH + 8), tileW, tileH};
    ViewItem& box = b.Add(ItemKind::IconBox, tile);
    box.tone = i == 5 && !s.warnings.empty() ? kToneWarning : kToneNormal;
    b.Add(ItemKind::Caps, {tile.x + 10, tile.y + 6, tile.w - 20, 14}, captions[i], kToneMuted);
    b.Add(ItemKind::TileValue, {tile.x + 10, tile.y + 21, tile.w - 20, 20}, values[i],
          i == 5 && !s.warnings.empty() ? kToneWarning : kToneNormal);
  }
  sum.cursor += 2 * tileH + 8 + kBlockGap;
  if (!s.skinLoaded) {
    ViewItem& m = b.Add(ItemKind::Text, {sum.x, sum.cursor, sum.w, 20}, L"Henüz skin yüklenmedi.", kToneMuted);
    m.icon = kIconInfo;
    sum.cursor += 20 + kBlockGap;
  } else if (s.warnings.empty()) {
    ViewItem& m = b.Add(ItemKind::Text, {sum.x, sum.cursor, sum.w, 20}, L"Tüm görseller bulundu; skin sorunsuz.",
                        kToneSuccess);
    m.icon = kIconTick;
    sum.cursor += 20 + kBlockGap;
  } else {
    const size_t shown = std::min<size_t>(s.warnings.size(), 3);
    for (size_t i = 0; i < shown; ++i) {
      std::wstring text = s.warnings[i];
      if (i + 1 == shown && s.warnings.size() > shown)
        text = L"+" + formatInt64(int64_t(s.warnings.size() - shown + 1)) + L" uyarı — ayrıntılar günlükte.";
      ViewItem& m = b.Add(ItemKind::Text, {sum.x, sum.cursor, sum.w, 20}, text, kToneWarning);
      m.icon = kIconWarning;
      sum.cursor += 22;
    }
    sum.cursor += kBlockGap - 2;
  }
  y = sum.End();

  std::wstring detail;
  if (s.skinLoaded)
    detail = formatInt64(int64_t(s.entryNames.size())) + L" dosya · " + formatSize(s.packageBytes);
  Card pack(b, cx, y, cw, L"Paket içeriği", {}, detail);
  std::wstring names;
  for (const std::wstring& n : s.entryNames) names += (names.empty() ? L"" : L"  ·  ") + n;
  const int32_t textH = std::max<int32_t>(bottom - pack.cursor - kCardPad, 20);
  ViewItem& list = b.Add(ItemKind::Text, {pack.x, pack.cursor, pack.w, textH},
                         names.empty() ? L"Paket boş." : names, names.empty() ? kToneMuted : kToneNormal);
  list.wrap = true;
  pack.EndAt(std::max(bottom, list.rect.bottom() + kCardPad));
}

void SectionLinks(Builder& b, const ViewState& s, int32_t cx, int32_t cw, int32_t bottom) {
  Card addr(b, cx, kCardsTop, cw, L"Sunucu adresleri");
  for (int id : {int(kFieldConfigUrl), int(kFieldNewsUrl), int(kFieldFeedUrl), int(kFieldTitle)}) {
    addr.Field(id, !s.busy);
    addr.NextRow();
  }
  int32_t y = addr.End();
  Card links(b, cx, y, cw, L"Buton bağlantıları", {},
             s.links.empty() ? std::wstring() : formatInt64(int64_t(s.links.size())) + L" bağlantı");
  if (s.links.empty()) {
    ViewItem& m = b.Add(ItemKind::Text, {links.x, links.cursor, links.w, 20},
                        s.skinLoaded ? L"Bu skinde bağlantı açan buton yok."
                                     : L"Skin yüklenince butonların bağlantıları burada listelenir.",
                        kToneMuted);
    m.icon = kIconInfo;
    links.cursor += 20 + kBlockGap;
  }
  const int32_t labelW = 150, rowH = 34;
  for (size_t i = 0; i < s.links.size(); ++i) {
    const LinkRow& link = s.links[i];
    const int32_t rows = int32_t(s.links.size() - i);
    // The last row that fits says how many more links the window could not show.
    if (links.cursor + rowH + kCardPad > bottom && rows > 0) {
      b.Add(ItemKind::Muted, {links.x, links.cursor, links.w, 18},
            L"+" + formatInt64(rows) + L" bağlantı daha", kToneMuted);
      links.cursor += 18 + kBlockGap;
      break;
    }
    b.Add(ItemKind::Label, {links.x, links.cursor, labelW - 10, 16}, link.id);
    b.Add(ItemKind::Muted, {links.x, links.cursor + 16, labelW - 10, 15},
          link.newsPage ? L"= haber sayfası" : link.fromLanguageFile ? L"dil dosyasından" : L"skin.xml'den",
          kToneMuted);
    b.Edit({links.x + labelW, links.cursor + 2, links.w - labelW, kEditH}, kLinkFieldBase + int(i), !s.busy);
    links.cursor += rowH;
  }
  links.cursor += 4;
  links.End();
}

void SwitchRow(Builder& b, Card& card, const wchar_t* text, int command, bool on, bool enabled) {
  ViewItem& sw = b.Button(ItemKind::Switch, {card.x, card.cursor, card.w, 26}, text, command, -1, enabled);
  sw.on = on;
  card.cursor += 32;
}

void SectionBehaviour(Builder& b, const ViewState& s, int32_t cx, int32_t cw) {
  Card dl(b, cx, kCardsTop, cw, L"İndirme", L"Bağlantı sayısı, parça boyutu ve hız sınırı.");
  b.Add(ItemKind::Label, {dl.x, dl.cursor, dl.w, kLabelH}, L"Paralel bağlantı");
  dl.cursor += kLabelH + 4;
  for (int n = 1; n <= 8; ++n) {
    ViewItem& chip = b.Button(ItemKind::Chip, {dl.x + (n - 1) * 42, dl.cursor, 36, 30}, formatInt64(n),
                              kCmdConnection + n, -1, !s.busy);
    chip.on = s.connections == n;
  }
  dl.cursor += 30 + 4;
  b.Add(ItemKind::Help, {dl.x, dl.cursor, dl.w, kHelpH}, L"Cloudflare için 4–6 önerilir.", kToneMuted);
  dl.cursor += kHelpH + kBlockGap + 2;
  b.Add(ItemKind::Label, {dl.x, dl.cursor, dl.w, kLabelH}, L"Parça boyutu (MB)");
  dl.cursor += kLabelH + 4;
  b.Button(ItemKind::Chip, {dl.x, dl.cursor, 32, kEditH}, L"", kCmdSegMinus, kIconMinus, !s.busy);
  b.Edit({dl.x + 38, dl.cursor, 64, kEditH}, kFieldSegment, !s.busy);
  b.Button(ItemKind::Chip, {dl.x + 108, dl.cursor, 32, kEditH}, L"", kCmdSegPlus, kIconPlus, !s.busy);
  b.Add(ItemKind::Help, {dl.x + 152, dl.cursor + 6, dl.w - 152, kHelpH}, L"Her indirme parçasının boyutu (1–64).",
        kToneMuted);
  dl.cursor += kEditH + kBlockGap;
  // The limit's help sits beside its edit, as the segment's does: the card stays short enough for
  // the smallest window.
  const FormField& limit = *FindField(kFieldMaxKbps);
  b.Add(ItemKind::Label, {dl.x, dl.cursor, dl.w, kLabelH}, limit.label);
  dl.cursor += kLabelH + 4;
  b.Edit({dl.x, dl.cursor, 140, kEditH}, kFieldMaxKbps, !s.busy);
  b.Add(ItemKind::Help, {dl.x + 152, dl.cursor + 6, dl.w - 152, kHelpH}, limit.help, kToneMuted);
  dl.cursor += kEditH + kBlockGap;
  int32_t y = dl.End();

  Card run(b, cx, y, cw, L"Başlatma", L"Güncelleme bittiğinde ve oyun açılınca ne olacağı.");
  SwitchRow(b, run, L"Oyun açılınca patcher kapansın", kCmdSwitchCloseOnStart, s.closeOnStart, !s.busy);
  SwitchRow(b, run, L"Güncelleme bitince oyunu otomatik başlat", kCmdSwitchAutoStart, s.autoStart, !s.busy);
  SwitchRow(b, run, L"Güncelleme başarısızsa da Başla açık kalsın", kCmdSwitchAllowError, s.allowError, !s.busy);
  SwitchRow(b, run, L"Haber sayfası IE11 kipinde açılsın", kCmdSwitchBrowserEmu, s.browserEmulation, !s.busy);
  run.cursor += 6;
  run.Field(kFieldRunArgs, !s.busy);
  run.NextRow();
  run.End();
}

void SectionIdentity(Builder& b, const ViewState& s, int32_t cx, int32_t cw) {
  Card icon(b, cx, kCardsTop, cw, L"Simge", L"Exe'nin Explorer'da ve görev çubuğunda görünen simgesi.");
  ViewItem& box = b.Add(ItemKind::IconBox, {icon.x, icon.cursor, 56, 56});
  box.icon = s.iconPath.empty() ? kIconPicture : kIconTick;
  box.tone = s.iconPath.empty() ? kToneMuted : kToneSuccess;
  b.Add(ItemKind::Label, {icon.x + 70, icon.cursor + 2, icon.w - 70, 18},
        s.iconPath.empty() ? L"Şablonun simgesi kullanılacak" : fileName(s.iconPath));
  b.Button(ItemKind::Button, {icon.x + 70, icon.cursor + 24, 124, 30}, L"Simge seç", kCmdPickIcon, kIconPicture,
           !s.busy);
  if (!s.iconPath.empty())
    b.Button(ItemKind::Button, {icon.x + 202, icon.cursor + 24, 110, 30}, L"Kaldır", kCmdRemoveIcon, kIconBin,
             !s.busy);
  icon.cursor += 56 + kBlockGap;
  int32_t y = icon.End();

  Card info(b, cx, y, cw, L"Dosya bilgisi", L"Özellikler > Ayrıntılar sekmesinde görünür.");
  const int32_t half = (info.w - 16) / 2;
  info.Field(kFieldOutName, !s.busy, info.x, half);
  info.Field(kFieldProduct, !s.busy, info.x + half + 16, half);
  info.NextRow();
  info.Field(kFieldCompany, !s.busy, info.x, half);
  info.Field(kFieldVersion, !s.busy, info.x + half + 16, half);
  info.NextRow();
  info.Field(kFieldCopyright, !s.busy);
  info.NextRow();
  info.End();
}

void SectionOutput(Builder& b, const ViewState& s, int32_t cx, int32_t cw) {
  Card out(b, cx, kCardsTop, cw, L"Kayıt yeri ve sürüm anahtarı");
  out.Field(kFieldOutPath, !s.busy, -1, -1, 86);
  b.Button(ItemKind::Button, {out.lastEdit.right() + 8, out.lastEdit.y, 78, kEditH}, L"Seç", kCmdPickOutput,
           kIconFolder, !s.busy);
  out.NextRow();
  // The operator's public release key: the patcher then installs only what that key signed.
  out.Field(kFieldReleaseKey, !s.busy, -1, -1, 86);
  b.Button(ItemKind::Button, {out.lastEdit.right() + 8, out.lastEdit.y, 78, kEditH}, L"Seç", kCmdPickReleaseKey,
           kIconKey, !s.busy);
  out.NextRow();
  int32_t y = out.End();

  Card sign(b, cx, y, cw, L"Kod imzalama", L"İsteğe bağlı; Windows SDK'nın signtool.exe aracıyla.");
  SwitchRow(b, sign, L"Exe'yi imzala", kCmdSwitchSign, s.sign, !s.busy);
  sign.cursor += 4;
  const bool certs = s.sign && !s.busy;
  sign.Field(kFieldPfx, certs, -1, -1, 86);
  b.Button(ItemKind::Button, {sign.lastEdit.right() + 8, sign.lastEdit.y, 78, kEditH}, L"Seç", kCmdPickPfx,
           kIconKey, certs);
  sign.NextRow();
  sign.Field(kFieldPassword, certs);
  sign.NextRow();
  sign.Field(kFieldTimestamp, certs);
  sign.NextRow();
  sign.End();
}

void SectionBuild(Builder& b, const ViewState& s, int32_t cx, int32_t cw, int32_t bottom) {
  Card check(b, cx, kCardsTop, cw, L"Hazırlık", L"Oluşturmadan önce bir bakış.");
  struct Row {
    const wchar_t* title;
    std::wstring detail;
    int tone;
  };
  const Row rows[] = {
      {L"Skin", s.skinLoaded ? s.skinName : L"Yüklenmedi", s.skinLoaded ? kToneSuccess : kToneError},
      {L"Yama adresi", trim(s.configUrl).empty() ? L"Boş — patcher güncelleme alamaz" : trim(s.configUrl),
       trim(s.configUrl).empty() ? kToneWarning : kToneSuccess},
      {L"Çıktı yeri", trim(s.outputPath).empty() ? L"Seçilmedi — oluştururken sorulur" : trim(s.outputPath),
       trim(s.outputPath).empty() ? kToneWarning : kToneSuccess},
      {L"Simge", s.iconPath.empty() ? L"Şablonun simgesi kullanılacak" : fileName(s.iconPath),
       s.iconPath.empty() ? kToneMuted : kToneSuccess},
      {L"İmza", s.sign ? L"Açık — " + OrDash(fileName(trim(s.pfxPath))) : L"Kapalı — isteğe bağlı",
       s.sign ? kToneSuccess : kToneMuted},
      {L"Şablon", s.templateFound ? L"Sarvik.Template.exe hazır" : L"Bulunamadı — build.bat ile derleyin",
       s.templateFound ? kToneSuccess : kToneError},
      {L"Sürüm anahtarı",
       trim(s.releaseKeyPath).empty() ? L"Yok — sürümler imzasız kabul edilir" : fileName(trim(s.releaseKeyPath)),
       trim(s.releaseKeyPath).empty() ? kToneWarning : kToneSuccess},
  };
  constexpr int kRows = int(sizeof rows / sizeof rows[0]);
  const int32_t colW = (check.w - 16) / 2, rowH = 34;
  for (int i = 0; i < kRows; ++i) {
    ViewItem& row = b.Add(ItemKind::CheckRow, {check.x + (i % 2) * (colW + 16), check.cursor + (i / 2) * rowH, colW,
                                               rowH - 4},
                          rows[i].title, rows[i].tone);
    row.detail = rows[i].detail;
    row.icon = rows[i].tone == kToneSuccess ? kIconTick
               : rows[i].tone == kToneMuted ? kIconInfo
                                             : kIconWarning;
  }
  check.cursor += (kRows + 1) / 2 * rowH + 4;
  int32_t y = check.End();

  const bool rebuilt = s.hasResult && s.resultOk;
  b.Button(ItemKind::PrimaryButton, {cx, y, 190, 40}, rebuilt ? L"Yeniden oluştur" : L"EXE Oluştur", kCmdBuild,
           rebuilt ? kIconRefresh : kIconBolt, !s.busy);
  b.Button(ItemKind::Button, {cx + 202, y, 170, 40}, L"Klasörde göster", kCmdShowFolder, kIconFolderOpen,
           !s.busy && !trim(s.outputPath).empty());
  y += 40 + kCardGap;

  if (s.hasResult) {
    Card res(b, cx, y, cw, s.resultOk ? L"Sonuç — hazır" : L"Sonuç — oluşturulamadı", {});
    if (s.resultOk) {
      b.Button(ItemKind::Button, {res.x + res.w - 140, y + 10, 140, 28}, L"CRC kopyala", kCmdCopyCrc, kIconCopy);
      res.ReserveRight(140);
      const int32_t tileW = (res.w - 16) / 3, tileH = 44;
      const wchar_t* caps[3] = {L"CRC32", L"İMZA", L"SÜRE"};
      const std::wstring vals[3] = {Hex8Text(s.resultCrc), s.resultSigned ? L"İmzalı" : L"İmzasız",
                                    ElapsedText(s.elapsedMs)};
      for (int i = 0; i < 3; ++i) {
        const ViewRect tile{res.x + i * (tileW + 8), res.cursor, tileW, tileH};
        b.Add(ItemKind::IconBox, tile);
        b.Add(ItemKind::Caps, {tile.x + 10, tile.y + 5, tile.w - 20, 14}, caps[i], kToneMuted);
        b.Add(i == 0 ? ItemKind::Mono : ItemKind::TileValue, {tile.x + 10, tile.y + 20, tile.w - 20, 20}, vals[i]);
      }
      res.cursor += tileH + 10;
      b.Add(ItemKind::Muted, {res.x, res.cursor, res.w, 16}, L"Patcher kendini de güncelleyebilir", kToneMuted);
      res.cursor += 18;
      b.Add(ItemKind::Mono, {res.x, res.cursor, res.w - 104, 30}, L"sv_patcher_crc32=" + Hex8Text(s.resultCrc));
      b.Button(ItemKind::Button, {res.x + res.w - 96, res.cursor, 96, 30}, L"Kopyala", kCmdCopyCrcLine, kIconCopy);
      res.cursor += 30 + kBlockGap;
    } else {
      ViewItem& m = b.Add(ItemKind::Text, {res.x, res.cursor, res.w, 36}, s.resultMessage, kToneError);
      m.icon = kIconWarning;
      m.wrap = true;
      b.Add(ItemKind::Muted, {res.x, res.cursor + 38, res.w, 16}, L"Ayrıntılar günlükte.", kToneMuted);
      res.cursor += 56 + kBlockGap;
    }
    y = res.End();
  }

  Card log(b, cx, y, cw, L"Günlük", {});
  b.Button(ItemKind::Button, {log.x + log.w - 104, y + 10, 104, 28}, L"Kopyala", kCmdCopyLog, kIconCopy);
  log.ReserveRight(104);
  const int32_t logH = std::max<int32_t>(bottom - log.cursor - kCardPad, 60);
  b.Add(ItemKind::LogView, {log.x, log.cursor, log.w, logH});
  log.EndAt(std::max(bottom, log.cursor + logH + kCardPad));
}

ViewRect Scale(const ViewRect& r, int32_t dpi) {
  auto s = [dpi](int32_t v) { return int32_t((int64_t(v) * dpi + (v >= 0 ? 48 : -48)) / 96); };
  const int32_t x = s(r.x), y = s(r.y);
  return {x, y, s(r.x + r.w) - x, s(r.y + r.h) - y};
}

}  // namespace

std::vector<ViewItem> LayoutWindow(const ViewState& s, int32_t width, int32_t height, int32_t dpi) {
  if (dpi < 48) dpi = 96;
  const int32_t w = std::max<int32_t>(int32_t(int64_t(width) * 96 / dpi), 400);
  const int32_t h = std::max<int32_t>(int32_t(int64_t(height) * 96 / dpi), 300);
  Builder b;
  Sidebar(b, s, h - kStatusHeight);

  const int32_t previewW = std::clamp<int32_t>(w * 29 / 100, 310, 440);
  const ViewRect preview{w - previewW - kMargin, kMargin, previewW, h - kStatusHeight - 2 * kMargin};
  const int32_t cx = kSidebarWidth + 28, cw = preview.x - 24 - cx, bottom = h - kStatusHeight - kMargin;

  const int section = std::clamp(s.section, 0, kSectionCount - 1);
  b.Add(ItemKind::SectionTitle, {cx, 22, cw, 30}, kFormSections[section].title);
  ViewItem& help = b.Add(ItemKind::Help, {cx, 56, cw, 34}, kFormSections[section].help, kToneMuted);
  help.wrap = true;
  switch (section) {
    case kSectionSource: SectionSource(b, s, cx, cw, bottom); break;
    case kSectionLinks: SectionLinks(b, s, cx, cw, bottom); break;
    case kSectionBehaviour: SectionBehaviour(b, s, cx, cw); break;
    case kSectionIdentity: SectionIdentity(b, s, cx, cw); break;
    case kSectionOutput: SectionOutput(b, s, cx, cw); break;
    default: SectionBuild(b, s, cx, cw, bottom); break;
  }
  PreviewPanel(b, s, preview);
  StatusLine(b, s, w, h);
  for (ViewItem& item : b.items) item.rect = Scale(item.rect, dpi);
  return std::move(b.items);
}

const ViewItem* HitItem(const std::vector<ViewItem>& items, int32_t x, int32_t y) {
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (it->command != kCmdNone && it->enabled && it->rect.contains(x, y)) return &*it;
  }
  return nullptr;
}

std::wstring Hex8Text(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return toWide(text);
}

std::wstring ElapsedText(uint64_t ms) {
  if (ms < 1000) return L"< 1 sn";
  return formatInt64(int64_t(ms / 1000)) + L" sn";
}

}  // namespace sv
