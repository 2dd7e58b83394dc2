#include "builder/session_check.h"

#include <algorithm>

#include "common/text.h"
#include "skin/skin_names.h"

namespace sv {

namespace {

constexpr const char* kNewsAlias = "news_url";
constexpr const char* kRegisterAlias = "register_url";
constexpr const char* kRegisterControlId = "URL_NEW";

struct KeyHelp {
  const char* key;
  const wchar_t* help;
};

// Every key a session may hold, with what it takes; links ("link.ID", "lang.KEY") come from the
// skin. The builder window writes the same keys (its session file is a session).
constexpr KeyHelp kSessionKeys[] = {
    {"skin", L"skin klasörü ya da .zip dosyası (gerekli)"},
    {"config_url", L"yapılandırma (draskeltorrent.config.xml) adresi, http:// ya da https://; yoksa skin'inki"},
    {"news_url", L"haber sayfası adresi (iframe_url ile aynı değer)"},
    {"iframe_url", L"haber sayfası adresi (dil dizesi LAUNCHER_IFRAME)"},
    {"register_url", L"kayıt butonunun (URL_NEW) adresi"},
    {"feed_url", L"duyuru ve online sayısı belgesinin (patcher_feed) adresi"},
    {"title", L"pencere başlığı"},
    {"conn", L"indirme bağlantısı, 1-8 (varsayılan 4)"},
    {"seg", L"parça boyu, MB, 1-64 (varsayılan 4)"},
    {"max_kbps", L"en yüksek indirme hızı, KB/sn (1 KB = 1024 bayt); 0 sınırsız (varsayılan 0)"},
    {"close_on_start", L"oyun başlayınca patcher kapanır: 1 açık, 0 kapalı (varsayılan 1)"},
    {"auto_start", L"güncelleme bitince oyun kendiliğinden başlar: 1/0 (varsayılan 0)"},
    {"allow_error", L"güncelleme başarısızken de BAŞLAT açık: 1/0 (varsayılan 0)"},
    {"browser_emu", L"haber sayfası yeni tarayıcı kipinde: 1/0 (varsayılan 1)"},
    {"run_args", L"oyuna verilecek ek argümanlar"},
    {"out_name", L"çıktı dosyasının adı (varsayılan Draskel.exe)"},
    {"out_path", L"çıktı dosyasının tam yolu (--out bunu geçersiz kılar)"},
    {"icon", L"simge: .ico, .png, .jpg ya da .bmp"},
    {"v_product", L"ürün adı (yoksa title)"},
    {"v_company", L"şirket"},
    {"v_version", L"dosya sürümü, ör. 1.0.0.0"},
    {"v_copyright", L"telif hakkı"},
    {"sign", L"kod imzası: 1 imzalar (parola SARVIK_SIGN_PASSWORD ortam değişkeninden)"},
    {"sign_pfx", L"sertifika (.pfx)"},
    {"sign_ts", L"zaman damgası sunucusu (varsayılan http://timestamp.digicert.com)"},
    {"release_key", L"sürüm anahtarı KEY.pub (SarvikPublish keygen)"},
};

std::vector<std::string> KnownKeys() {
  std::vector<std::string> keys;
  for (const KeyHelp& k : kSessionKeys) keys.emplace_back(k.key);
  return keys;
}

// Levenshtein distance of the lower-cased keys: a swapped pair costs two, which "config_ulr"
// still meets within the limit below.
size_t Distance(std::string_view a, std::string_view b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t above = row[j];
      const bool same = toLowerAscii(a.substr(i - 1, 1)) == toLowerAscii(b.substr(j - 1, 1));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::wstring KeyList(const std::vector<std::string>& keys) {
  std::wstring text;
  for (const std::string& key : keys) text += (text.empty() ? L"" : L", ") + toWide(key);
  return text.empty() ? L"yok" : text;
}

bool IsHttpAddress(const std::wstring& url) {
  const std::string lower = toLowerAscii(toUtf8(url.substr(0, 8)));
  const size_t scheme = lower.rfind("https://", 0) == 0 ? 8 : lower.rfind("http://", 0) == 0 ? 7 : 0;
  return scheme != 0 && url.size() > scheme;
}

}  // namespace

std::wstring HeadlessUsageText() {
  std::wstring text =
      L"Kullanım: SarvikBuilderCli.exe --build OTURUM.ini [--out ÇIKTI.exe] [--check]\n"
      L"          SarvikBuilderCli.exe --help\n"
      L"\n"
      L"--check: yapılandırmayı ve dosya listelerini bir patcher gibi bir kez indirir ve oyuncunun\n"
      L"karşılaşacağı sorunları yazar (eksik liste, boş run_path); sorun varsa çıkış kodu 1'dir,\n"
      L"patcher yine de yazılır.\n"
      L"\n"
      L"OTURUM.ini: UTF-8 anahtar=değer satırları (';' açıklama). Anahtarlar:\n";
  for (const KeyHelp& k : kSessionKeys) text += L"  " + toWide(k.key) + L" — " + k.help + L"\n";
  text +=
      L"  link.KİMLİK — skin.xml'deki butonun adresi (kontrolün id'si, büyük harf: link.WEBSITE)\n"
      L"  lang.ANAHTAR — dil dizesinden gelen buton adresi (lang.LAUNCHER_NEW_URL)\n"
      L"\n"
      L"Bilinmeyen bir anahtar, skin'de olmayan bir buton ya da http:// veya https:// ile\n"
      L"başlamayan bir adres derlemeyi durdurur. Çıkış kodu: 0 oluşturuldu, 1 oluşturulamadı,\n"
      L"2 hatalı argüman ya da okunamayan oturum dosyası.";
  return text;
}

std::string NearestKey(std::string_view key, const std::vector<std::string>& known) {
  std::string best;
  size_t bestDistance = 3;  // farther than two edits is another word, not a typo
  for (const std::string& candidate : known) {
    const size_t d = Distance(key, candidate);
    if (d < bestDistance) {
      bestDistance = d;
      best = candidate;
    }
  }
  return best;
}

bool ResolveKeyAliases(BuilderSession& session, const SkinImport& skin, std::wstring* errorOut) {
  auto move = [&session](const char* alias, const std::string& key) {
    auto it = session.values.find(alias);
    if (it == session.values.end()) return;
    session.values.emplace(key, it->second);  // the key's own line, when given, wins
    session.values.erase(it);
  };
  move(kNewsAlias, kNewsPageKey);
  if (!session.has(kRegisterAlias)) return true;
  for (const ButtonLink& link : skin.links) {
    if (upperAscii(trim(link.id)) == kRegisterControlId) {
      move(kRegisterAlias, link.key);
      return true;
    }
  }
  if (errorOut) *errorOut = L"register_url: bu skinde kayıt butonu (id=\"URL_NEW\") yok.";
  return false;
}

std::wstring CheckSessionKeys(const BuilderSession& session, const SkinImport& skin) {
  std::vector<std::string> linkKeys;
  for (const ButtonLink& link : skin.LinkFields()) {
    if (IsLinkKey(link.key)) linkKeys.push_back(link.key);
  }
  const std::vector<std::string> known = KnownKeys();
  for (const auto& [key, value] : session.values) {
    if (std::find(known.begin(), known.end(), key) != known.end()) continue;
    if (IsLinkKey(key)) {
      if (std::find(linkKeys.begin(), linkKeys.end(), key) != linkKeys.end()) continue;
      // The index form of older sessions, when a control stands at that position.
      int64_t index = -1;
      const bool digits = key.size() > 5 && key.rfind("link.", 0) == 0 &&
                          key.find_first_not_of("0123456789", 5) == std::string::npos &&
                          parseInt64(key.substr(5), index);
      if (digits && std::any_of(skin.links.begin(), skin.links.end(),
                                [index](const ButtonLink& l) { return l.controlIndex == index; }))
        continue;
      return L"Oturumdaki " + toWide(key) + L" bu skindeki hiçbir butona ait değil; skindeki butonlar: " +
             KeyList(linkKeys);
    }
    std::vector<std::string> candidates = known;
    candidates.insert(candidates.end(), linkKeys.begin(), linkKeys.end());
    const std::string nearest = NearestKey(key, candidates);
    return L"Bilinmeyen oturum anahtarı: " + toWide(key) +
           (nearest.empty() ? std::wstring(L" (SarvikBuilderCli.exe --help anahtarları listeler)")
                            : L" (" + toWide(nearest) + L" mi demek istediniz?)");
  }
  return {};
}

std::vector<EffectiveAddress> EffectiveAddresses(const SkinImport& skin, const BuilderSession& session) {
  const SkinFields fields = SessionFields(skin, session);
  std::vector<EffectiveAddress> addresses;
  addresses.push_back({"config_url", trim(fields.configUrl), !session.has("config_url")});
  if (skin.hasWebArea || session.has(kNewsPageKey))
    addresses.push_back({kNewsPageKey, trim(fields.newsUrl), !session.has(kNewsPageKey)});
  if (skin.hasFeedArea || session.has("feed_url"))
    addresses.push_back({"feed_url", trim(fields.feedUrl), !session.has("feed_url")});
  const auto fromSession = SessionLinks(session, skin.links);
  for (const ButtonLink& link : skin.LinkFields()) {
    if (!IsLinkKey(link.key)) continue;
    auto it = fields.linkUrls.find(link.key);
    addresses.push_back({link.key, trim(it == fields.linkUrls.end() ? link.url : it->second),
                         fromSession.count(link.key) == 0});
  }
  return addresses;
}

std::wstring CheckAddresses(const std::vector<EffectiveAddress>& addresses) {
  for (const EffectiveAddress& a : addresses) {
    const bool required = a.key == "config_url";
    if (a.url.empty() && !required) continue;
    if (IsHttpAddress(a.url)) continue;
    const std::wstring where = a.fromSkin ? L" (skin'den)" : L"";
    if (a.url.empty()) return toWide(a.key) + L" boş: patcher yapılandırmayı hiçbir yerden okuyamaz.";
    return toWide(a.key) + L" geçerli bir adres değil: \"" + a.url + L"\"" + where +
           L" — adres http:// ya da https:// ile başlamalı (ör. https://" + a.url + L").";
  }
  return {};
}

}  // namespace sv
