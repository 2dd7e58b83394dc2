#include "skin/locale_table.h"

#include <set>

#include "common/text.h"
#include "common/xml.h"
#include "skin/skin_names.h"

namespace sv {

const std::vector<LocaleDefault>& builtInLocaleTexts() {
  static const std::vector<LocaleDefault> kTexts = {
      {"CONFIG_LOADING", L"Yapılandırma yükleniyor..."},
      {"CONFIG_APPYING", L"Yapılandırma uygulanıyor..."},
      {"TORRENT_PATCH", L"Draskel"},
      {"TORRENT_MAIN", L"Hazırlanıyor..."},
      {"TORRENT_SUB", L""},
      {"TORRENT_PATCH_INIT", L"Hazırlanıyor..."},
      {"TORRENT_START", L"Güncelleme başlıyor..."},
      {"TORRENT_STATE_CHECKING", L"Dosyalar kontrol ediliyor..."},
      {"TORRENT_STATE_DOWNLOADING", L"İndiriliyor..."},
      {"TORRENT_STATE_FINISHED", L"Güncelleme tamamlandı!"},
      {"TORRENT_DOWNLOAD_SPEED", L"İndirme Hızı:"},
      {"TORRENT_TOTAL_PROGRESS", L"Toplam Süreç"},
      {"TORRENT_FOREGROUND_PATCH_RUN_GAME", L"Oyun başlatılıyor..."},
      {"TORRENT_NOTICE_TITLE", L"Duyuru"},
      {"TORRENT_NOTICE_ACCEPT", L"Kabul et"},
      {"TORRENT_NOTICE_REFUSE", L"İptal et"},
      {"NOTICE", L"Hata"},
      {"INVALID_CRC_TABLE", L"Sunucu ile bağlantı kesildi / arızalı."},
      {"REMOTE_CONFIG_OPEN_ERROR", L"Konfigürasyon uzaktan açılamadı"},
      {"FAILED_DOWNLOAD_FILE", L"Dosyanın indirilmesi başarısız oldu."},
      {"FAILED_WRITE_FILE", L"Dosya yazılamıyor."},
      {"FAILED_CREATE_FILE", L"Dosya yaratılamıyor."},
      {"ERROR_LZO_DECOMPRESS", L"Veri açılamıyor."},
      {"ERROR_NO_SKIN", L"Düzenleme mevcut değil."},
      {"CREATE_PROCESS_ERROR_2", L"Çalıştırılabilir dosya bulunamıyor"},
      {"ERROR_EXECUTE_PROCESS", L"Program düzgün şekilde çalışmıyor."},
      {"RUN_PATH_EMPTY", L"Program, girilen dosyayı bulamıyor."},
      {"LAUNCH_ERROR_WITH_ADMIN_PRIVILEGES", L"Yamayı yönetici olarak çalıştır."},
      {"INTERNET_OPEN_ERROR", L"İnternet bağlantısı yok (ErrorCode %d)"},
      {"NEW_PATCHER_START", L"Yeni yama başlatılıyor."},
      {"LAUNCHER_IFRAME", L""},
      {"LAUNCHER_NEW_URL", L""},
      {"SV_RETRY", L"Güncelleme tamamlanamadı.\n\n%s\n\nTekrar denemek ister misiniz?"},
      {"SV_GAME_RUNNING",
       L"Oyun açıkken güncelleme yapılamaz. Lütfen oyunu kapatıp tekrar deneyin."},
      {"SV_FILE_IN_USE", L"Dosya kullanımda, bekleniyor: %s"},
      {"SV_DISK_FULL", L"Diskte yeterli boş alan yok. Gereken: %s"},
      {"SV_WRITING", L"Dosyalar yazılıyor..."},
      {"SV_REMAINING", L"Kalan: %s"},
      {"SV_SELF_UPDATE", L"Patcher güncelleniyor..."},
      {"SV_ADMIN_QUESTION",
       L"Oyun klasörüne yazma izni yok.\n\nPatcher yönetici olarak yeniden başlatılsın mı?"},
      {"SV_CHECK_DETAIL", L"%s / %s dosya"},
      {"SV_UP_TO_DATE", L"Oyun güncel."},
      {"SV_CHUNK_SUMMARY", L"%s yerel dosyalardan alındı, %s indirildi"},
      {"SV_VERIFYING", L"Dosyalar doğrulanıyor… %s"},
      {"SV_PRELOADING", L"Sonraki güncelleme hazırlanıyor: %s"},
      {"SV_REPAIRED", L"%s dosya onarıldı"},
      {"SV_ALL_SOUND", L"Tüm dosyalar sağlam."},
      {"SV_PREVIEW", L"Önizleme"},
      {"SV_CRC_MISMATCH", L"İndirilen dosya doğrulanamadı: %s"},
      {"SV_HTTP_ERROR", L"Sunucu hatası (HTTP %s): %s"},
      {"SV_NET_ERROR", L"Bağlantı hatası: %s"},
      {"SV_INVALID_CONFIG", L"Sunucu yapılandırması geçersiz."},
      {"SV_LIST_MISSING", L"Dosya listesi sunucuda bulunamadı"},
      {"SV_NO_DOWNLOAD_URL", L"Sunucu yapılandırmasında indirme adresi (crcpatch_url) yok."},
      {"SV_WAIT_GAME", L"Oyun kapanması bekleniyor..."},
      {"SV_NEWS", L"Haberler"},
      {"SV_INUSE_TITLE", L"Dosya kullanımda"},
      {"SV_INUSE_HEAD",
       L"Güncel dosya kurulamıyor çünkü başka bir program tarafından kullanılıyor."},
      {"SV_INUSE_FILES", L"Dosya:"},
      {"SV_INUSE_PROGRAMS", L"Kullanan program:"},
      {"SV_INUSE_QUESTION",
       L"Sonlandırılmadan güncel dosya kurulamaz ve oyuna giriş yapılamaz.\nSonlandırılsın mı? "
       L"Kaydedilmemiş veriler kaybolabilir."},
      {"SV_INUSE_SYSTEM",
       L"Bu Windows bileşeni patcher tarafından kapatılamaz. Genellikle birkaç saniye içinde "
       L"dosyayı bırakır; bırakınca güncelleme kendiliğinden devam eder."},
      {"SV_INUSE_SYSTEM_TAG", L"Windows bileşeni, kapatılamaz"},
      {"SV_INUSE_UNKNOWN_TAG", L"kimliği doğrulanamadı, kapatılamaz"},
      {"SV_INUSE_UNKNOWN",
       L"Dosyayı hangi programın kullandığı tespit edilemedi. Oyunu ve açık olabilecek diğer "
       L"programları kapatıp tekrar deneyin."},
      {"SV_INUSE_MORE", L"ve %s tane daha"},
      {"SV_INUSE_BTN_CLOSE", L"Sonlandır"},
      {"SV_INUSE_BTN_RETRY", L"Tekrar Dene"},
      {"SV_INUSE_BTN_CANCEL", L"İptal"},
      {"SV_INUSE_CLOSING", L"Program kapatılıyor: %s"},
      {"SV_INUSE_CLOSE_FAILED", L"Şu program sonlandırılamadı: %s"},
      {"SV_INUSE_NEED_ADMIN",
       L"Şu program yönetici olarak çalıştığı için sonlandırmak yönetici izni istiyor: %s"},
      {"SV_INUSE_STOPPED", L"Güncelleme durduruldu: dosya kullanımda."},
      {"SV_FEED_ONLINE", L"Sunucu Çevrimiçi"},
      {"SV_FEED_MAINTENANCE", L"Sunucu Bakımda"},
      {"SV_FEED_OFFLINE", L"Sunucu Çevrimdışı"},
      {"SV_FEED_NO_DATA", L"Sunucu bilgisi alınamadı"},
      {"SV_FEED_PLAYERS", L"%s oyuncu"},
  };
  return kTexts;
}

namespace {

bool IsStringElement(const XmlNode& node) { return equalsNoCase(node.name, "string"); }

// The writer's counterpart of unescapeLocaleText for backslashes; line breaks stay as they are.
std::string EscapeLocaleValue(const std::wstring& value) {
  std::string utf8 = toUtf8(value);
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    if (c == '\\') out += '\\';
    out += c;
  }
  return escapeText(out);
}

std::string LocaleLine(const std::string& key, const std::wstring& value) {
  return "\t<string key=\"" + escapeAttribute(key) + "\">" + EscapeLocaleValue(value) +
         "</string>\r\n";
}

}  // namespace

void LocaleTable::loadDefaults() {
  entries.clear();
  for (const LocaleDefault& entry : builtInLocaleTexts()) entries[entry.key] = entry.text;
}

bool LocaleTable::loadFile(std::string_view bytes, std::wstring* errorOut) {
  XmlDocument doc;
  if (!doc.parse(decodeTextToUtf8(bytes), errorOut)) return false;
  for (const XmlNode& child : doc.children) {
    if (!IsStringElement(child)) continue;
    const std::string key = trim(child.attribute("key"));
    if (key.empty()) continue;
    set(key, unescapeLocaleText(toWide(child.text)));
  }
  return true;
}

bool LocaleTable::contains(std::string_view key) const {
  return entries.find(upperAscii(key)) != entries.end();
}

std::wstring LocaleTable::text(std::string_view key) const { return textOr(key, {}); }

std::wstring LocaleTable::textOr(std::string_view key, std::wstring_view fallback) const {
  auto it = entries.find(upperAscii(key));
  return it != entries.end() ? it->second : std::wstring(fallback);
}

std::wstring LocaleTable::format(std::string_view key,
                                 const std::vector<std::wstring>& args) const {
  return formatTemplate(text(key), args);
}

void LocaleTable::set(std::string_view key, std::wstring value) {
  entries[upperAscii(key)] = std::move(value);
}

std::wstring unescapeLocaleText(std::wstring_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const wchar_t c = text[i];
    if (c == L'\\' && i + 1 < text.size()) {
      const wchar_t next = text[i + 1];
      if (next == L'n') {
        out += L'\n';
        ++i;
        continue;
      }
      if (next == L'\'' || next == L'"' || next == L'\\') {
        out += next;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

std::string writeLocaleFile(std::string_view existingText,
                            const std::map<std::string, std::wstring>& overrides) {
  static const std::string_view kClosingTag = "</torrent_locale>";
  // The edits work on UTF-8 offsets: a file in another encoding is rewritten as UTF-8, and a
  // UTF-8 byte-order mark is kept in front.
  const bool utf8Bom = existingText.substr(0, 3) == "\xEF\xBB\xBF";
  const std::string text = decodeTextToUtf8(existingText);
  if (trim(text).empty()) {
    std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<torrent_locale>\r\n";
    for (const auto& [key, value] : overrides) out += LocaleLine(upperAscii(key), value);
    return out + "</torrent_locale>\r\n";
  }

  XmlEditor editor(text);
  std::set<std::string> written;
  XmlDocument doc;
  const bool parsed = doc.parse(text);
  if (parsed) {
    for (const XmlNode& child : doc.children) {
      if (!IsStringElement(child) || child.contentStart == kXmlNoPosition) continue;
      const std::string key = upperAscii(trim(child.attribute("key")));
      for (const auto& [overrideKey, value] : overrides) {
        if (upperAscii(overrideKey) != key) continue;
        editor.replace(child.contentStart, child.contentEnd, EscapeLocaleValue(value));
        written.insert(key);
      }
    }
  }
  std::string added;
  for (const auto& [key, value] : overrides) {
    const std::string upper = upperAscii(key);
    if (!written.count(upper)) added += LocaleLine(upper, value);
  }
  // New keys go in front of the root's closing tag, whatever the root is called, so that the
  // operator's values are never dropped. An empty root element is opened up to hold them.
  // A file that does not parse only gets them in front of its last "</torrent_locale>".
  if (!added.empty()) {
    if (parsed && doc.contentEnd != kXmlNoPosition) {
      editor.replace(doc.contentEnd, doc.contentEnd, added);
    } else if (parsed && doc.selfClosing && doc.end >= 2) {
      editor.replace(doc.end - 2, doc.end, ">\r\n" + added + "</" + doc.name + ">");
    } else if (const size_t closing = text.rfind(kClosingTag); closing != std::string::npos) {
      editor.replace(uint32_t(closing), uint32_t(closing), added);
    }
  }
  return (utf8Bom ? "\xEF\xBB\xBF" : "") + editor.apply();
}

}  // namespace sv
