// What HttpClient decides whatever its transport: the memory sink's limit and the error texts.
#include "http/http_client.h"

#include "http/http_rate_limit.h"

namespace sv {

namespace {

struct MemorySink {
  std::string* body;
  const HttpResult* result;
  size_t limit;
  bool tooLarge = false;
};

bool AppendToMemory(void* context, const void* data, uint32_t size) {
  auto& m = *static_cast<MemorySink*>(context);
  if (size > m.limit - m.body->size()) {
    m.tooLarge = true;
    return false;
  }
  // One allocation for a body of announced length instead of repeated growth.
  if (m.body->empty() && m.result->has_length && m.result->content_length <= m.limit)
    m.body->reserve(size_t(m.result->content_length));
  m.body->append(static_cast<const char*>(data), size);
  return true;
}

struct PacedSink {
  HttpSink sink;
  void* context;
  const CancelFlag* cancel;
};

bool DeliverPaced(void* context, const void* data, uint32_t size) {
  auto& p = *static_cast<PacedSink*>(context);
  if (p.sink && !p.sink(p.context, data, size)) return false;
  return PaceReceived(size, p.cancel);
}

}  // namespace

HttpClient::HttpClient() : transport_(MakeSystemTransport()) {}

bool HttpClient::Get(const std::wstring& url, int64_t rangeFirst, int64_t rangeLast,
                     HttpResult& result, HttpSink sink, void* sinkContext,
                     const CancelFlag* cancel) const {
  if (ProcessRateLimiter().Rate() == 0)
    return transport_->Get(url, rangeFirst, rangeLast, result, sink, sinkContext, cancel);
  PacedSink paced{sink, sinkContext, cancel};
  return transport_->Get(url, rangeFirst, rangeLast, result, DeliverPaced, &paced, cancel);
}

bool HttpClient::FetchToMemory(const std::wstring& url, std::string& bodyOut,
                               HttpResult& result, const CancelFlag* cancel,
                               size_t limit) const {
  bodyOut.clear();
  MemorySink memory{&bodyOut, &result, limit};
  const bool ok = Get(url, -1, -1, result, AppendToMemory, &memory, cancel);
  if (memory.tooLarge) {
    result.error_text = L"Yanıt çok büyük";
    return false;
  }
  return ok;
}

std::wstring HttpStatusText(uint32_t status) {
  std::wstring text = L"HTTP " + std::to_wstring(status);
  if (status == 404) text += L" (dosya sunucuda yok)";
  if (status == 403) text += L" (erişim reddedildi)";
  return text;
}

std::wstring HttpClient::ErrorText(uint32_t code) {
  switch (code) {
    case kHttpErrorTimeout:
      return L"Zaman aşımı (sunucu yanıt vermiyor)";
    case kHttpErrorInvalidUrl:
    case kHttpErrorUnrecognizedScheme:
      return L"Geçersiz adres";
    case kHttpErrorNameNotResolved:
      return L"Sunucu adı çözülemedi (internet bağlantınızı kontrol edin)";
    case kHttpErrorCancelled:
      return kCancelledText;
    case kHttpErrorCannotConnect:
      return L"Sunucuya bağlanılamadı";
    case kHttpErrorConnectionError:
      return L"Bağlantı koptu";
    case kHttpErrorResendRequest:
      return L"İstek yeniden gönderilmeli";
    case kHttpErrorInvalidServerResponse:
      return L"Sunucu geçersiz yanıt verdi";
    case kHttpErrorCertDateInvalid:
      return L"Sunucunun güvenlik sertifikasının süresi dolmuş ya da henüz başlamamış "
             L"(bilgisayarın saatini kontrol edin)";
    case kHttpErrorCertNameInvalid:
      return L"Sunucunun güvenlik sertifikası bu adrese ait değil";
    case kHttpErrorCertUnknownIssuer:
      return L"Sunucunun güvenlik sertifikasına güvenilmiyor (tanınmayan sertifika yetkilisi)";
    case kHttpErrorCertInvalid:
      return L"Sunucunun güvenlik sertifikası geçersiz";
    case kHttpErrorCertRevoked:
      return L"Sunucunun güvenlik sertifikası iptal edilmiş";
    case kHttpErrorSecureChannel:
      return L"Güvenli bağlantı kurulamadı (sunucunun sertifikası ya da şifreleme ayarları "
             L"kabul edilmedi)";
    case kHttpErrorSecureFailure:
      return L"Güvenli bağlantı kurulamadı (Windows 7'de TLS 1.2 güncellemesi KB3140245 "
             L"gerekebilir)";
    default:
      break;
  }
  std::wstring text = SystemNetworkMessage(code);
  if (text.empty()) text = L"Ağ hatası";
  return text + L" (" + std::to_wstring(code) + L")";
}

}  // namespace sv
