#include "builder/form_fields.h"

namespace sv {

const std::array<FormSection, kSectionCount> kFormSections = {{
    {L"Kaynak", L"Skin paketi ve görseller",
     L"Skin .zip dosyasını ya da klasörünü bırakın; görseller, adresler ve ayarlar otomatik okunur.", "kaynak", 5},
    {L"Bağlantılar", L"Sunucu ve buton adresleri",
     L"Patcher'ın bağlanacağı adresler ve butonların açacağı sayfalar.", "baglantilar", 3},
    {L"Davranış", L"İndirme ve başlatma", L"İndirme hızı ve oyunun nasıl başlatılacağı.", "davranis", 4},
    {L"Kimlik", L"Simge ve dosya bilgisi",
     L"Patcher exe'sinin simgesi ve Özellikler > Ayrıntılar bilgileri.", "kimlik", 13},
    {L"Çıktı ve İmza", L"Kayıt yeri, sertifika",
     L"Exe'nin kaydedileceği yer ve isteğe bağlı kod imzalama.", "cikti", 6},
    {L"Derleme", L"EXE oluştur, günlük",
     L"Patcher exe'sini oluşturun; adımlar ve sonuç burada görünür.", "derleme", 7},
}};

const std::array<FormField, kFieldCount> kFormFields = {{
    {kFieldConfigUrl, 1, L"Yama yapılandırma adresi (config)",
     L"Patcher dosya listesini ve duyuruları bu adresten okur.", L"https://…/draskeltorrent.config.xml", L"",
     "config_url"},
    {kFieldNewsUrl, 1, L"Haber sayfası", L"Patcher içindeki haber/duyuru alanında açılan sayfa.",
     L"https://…/launcher/haberler", L"", "iframe_url"},
    {kFieldFeedUrl, 1, L"Duyuru ve online adresi", L"Duyuru başlıkları ve online sayısı bu adresten okunur.",
     L"https://…/launcher/feed.xml", L"", "feed_url"},
    {kFieldTitle, 1, L"Pencere başlığı (görev çubuğunda görünür)", L"", L"Örn: Sunucu Adı", L"", "title"},
    {kFieldSegment, 2, L"", L"", L"", L"4", "seg"},
    {kFieldMaxKbps, 2, L"En yüksek indirme hızı",
     L"KB/sn; 0 sınırsız. sv_max_kbps düşürebilir.",
     L"0 = sınırsız", L"0", "max_kbps"},
    {kFieldRunArgs, 2, L"Oyuna verilecek ek argümanlar (isteğe bağlı)", L"", L"Örn: --lang tr", L"", "run_args"},
    {kFieldOutName, 3, L"Çıktı dosya adı", L"", L"Draskel.exe", L"Draskel.exe", "out_name"},
    {kFieldProduct, 3, L"Ürün adı", L"", L"Ürün adı", L"", "v_product"},
    {kFieldCompany, 3, L"Şirket", L"", L"Şirket adı", L"", "v_company"},
    {kFieldVersion, 3, L"Sürüm", L"", L"1.0.0.0", L"1.0.0.0", "v_version"},
    {kFieldCopyright, 3, L"Telif hakkı", L"", L"© 2026 Sunucu Adı", L"", "v_copyright"},
    {kFieldOutPath, 4, L"Kaydedilecek yer", L"Patcher oyun klasörünün köküne (client klasörü) konmalıdır.",
     L"C:\\…\\Draskel.exe", L"", "out_path"},
    {kFieldPfx, 4, L"Sertifika (.pfx)", L"", L"sertifika.pfx", L"", "sign_pfx"},
    {kFieldPassword, 4, L"Parola", L"Kaydedilmez; yalnızca bu oturumda kullanılır.", L"", L"", ""},
    {kFieldTimestamp, 4, L"Zaman damgası sunucusu", L"", kDefaultTimestampUrl, kDefaultTimestampUrl, "sign_ts"},
    {kFieldReleaseKey, 4, L"Sürüm anahtarı (KEY.pub)",
     L"Patcher yalnızca bu anahtarla imzalanan sürümleri kurar.",
     L"C:\\…\\KEY.pub", L"", "release_key"},
}};

const FormField* FindField(int id) {
  for (const FormField& field : kFormFields) {
    if (field.id == id) return &field;
  }
  return nullptr;
}

const FormField* FindFieldByKey(std::string_view key) {
  for (const FormField& field : kFormFields) {
    if (field.sessionKey[0] && key == field.sessionKey) return &field;
  }
  return nullptr;
}

}  // namespace sv
