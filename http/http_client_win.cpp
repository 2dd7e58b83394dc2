// HttpClient over WinHTTP. Never include <wininet.h> here: it clashes with <winhttp.h>.
#include <memory>

#include "common/text.h"
#include "http/http_client.h"
#include "http/http_winhttp_win.h"

namespace sv {

namespace {

struct alignas(32) ReadBuffer {
  unsigned char bytes[kHttpPieceSize];
};

// What WinHTTP's internal read buffer holds when full (Wine's is 8 KiB; Windows reports more).
constexpr DWORD kFullTransportBuffer = 8192;
// A whole-piece read that takes longer marks the stream as slow for the rest of the request.
constexpr ULONGLONG kSlowPieceMs = 200;

// Streams the body of an accepted response to the sink.
bool ReadBody(HINTERNET request, HttpResult& result, HttpSink sink, void* sinkContext,
              const CancelFlag* cancel) {
  auto buffer = std::make_unique<ReadBuffer>();
  uint64_t received = 0;
  bool slowStream = false;
  // While whole pieces come back full and quickly, the next one is asked for straight away: a
  // WinHttpQueryDataAvailable before every read costs a round trip through the transport each.
  bool flowing = false;
  for (;;) {
    if (IsCancelled(cancel)) {
      result.error_text = kCancelledText;
      return false;
    }
    DWORD want = kHttpPieceSize;
    DWORD available = 0;
    if (!flowing) {
      if (!WinHttpQueryDataAvailable(request, &available)) {
        FailWithLastError(result);
        return false;
      }
      // Ask for a whole piece, not just what is buffered: some WinHTTP implementations report
      // only their small internal buffer, and reading that little at a time halves throughput.
      // But such a read waits until the whole piece has come, and a server that trickles would
      // hold it (and the cancel check after it) for as long as it likes: only a full buffer on a
      // stream that filled its last piece quickly gets a whole piece asked for.
      if (available < kFullTransportBuffer || slowStream)
        want = available < kHttpPieceSize ? available : kHttpPieceSize;
    }
    DWORD got = 0;
    if (want > 0) {
      const ULONGLONG readStart = GetTickCount64();
      if (!WinHttpReadData(request, buffer->bytes, want, &got)) {
        FailWithLastError(result);
        return false;
      }
      if (want == kHttpPieceSize && GetTickCount64() - readStart > kSlowPieceMs) slowStream = true;
    }
    if (got == 0) {
      if (!result.has_length || received == result.content_length) return true;
      result.error_text = L"Eksik veri alındı (bağlantı koptu)";
      return false;
    }
    received += got;
    if (sink && !sink(sinkContext, buffer->bytes, got)) {
      if (result.error_text.empty()) result.error_text = kCancelledText;
      return false;
    }
    // The announced length has come: no further call is needed to learn that the body ended.
    if (result.has_length && received == result.content_length) return true;
    flowing = want == kHttpPieceSize && got == want && !slowStream;
  }
}

class WinHttpTransport : public HttpTransport {
 public:
  ~WinHttpTransport() override { Close(); }
  bool Open(const std::wstring& userAgent) override;
  void Close() override;
  bool IsOpen() const override { return session_ != nullptr; }
  bool Get(const std::wstring& url, int64_t rangeFirst, int64_t rangeLast, HttpResult& result,
           HttpSink sink, void* sinkContext, const CancelFlag* cancel) const override;

 private:
  HINTERNET session_ = nullptr;
};

}  // namespace

std::unique_ptr<HttpTransport> MakeSystemTransport() { return std::make_unique<WinHttpTransport>(); }

bool WinHttpTransport::Open(const std::wstring& userAgent) {
  Close();
  session_ = OpenWinHttpSession(userAgent, 0);
  return session_ != nullptr;
}

void WinHttpTransport::Close() {
  if (session_) WinHttpCloseHandle(session_);
  session_ = nullptr;
}

bool WinHttpTransport::Get(const std::wstring& url, int64_t rangeFirst, int64_t rangeLast,
                     HttpResult& result, HttpSink sink, void* sinkContext,
                     const CancelFlag* cancel) const {
  result.Reset();
  if (!session_) {
    result.error_text = kHttpNotOpenText;
    return false;
  }
  CrackedUrl target;
  if (!CrackUrl(url, target)) {
    result.error_code = GetLastError();
    result.error_text = L"Geçersiz adres: " + url;
    return false;
  }
  InternetHandle connection(WinHttpConnect(session_, target.host.c_str(), target.port, 0));
  if (!connection) {
    FailWithLastError(result);
    return false;
  }
  InternetHandle request(WinHttpOpenRequest(connection.get(), L"GET", target.path.c_str(),
                                            nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES,
                                            target.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) {
    FailWithLastError(result);
    return false;
  }
  // Which certificate check failed comes only through the status callback.
  DWORD certificateFlags = 0;
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(&certificateFlags);
  if (target.secure) {
    WinHttpSetOption(request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));
    WinHttpSetStatusCallback(request.get(), CollectSecureFailure,
                             WINHTTP_CALLBACK_FLAG_SECURE_FAILURE, 0);
  }
  std::wstring headers;
  if (rangeFirst >= 0) {
    headers = L"Range: bytes=" + std::to_wstring(rangeFirst) + L"-";
    if (rangeLast >= 0) headers += std::to_wstring(rangeLast);
    headers += L"\r\n";
  }
  const BOOL sent =
      headers.empty()
          ? WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                               WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
          : WinHttpSendRequest(request.get(), headers.c_str(), DWORD(-1),
                               WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
  if (!sent || !WinHttpReceiveResponse(request.get(), nullptr)) {
    FailWithCode(result, GetLastError(), certificateFlags);
    return false;
  }
  ReadResponseHeaders(request.get(), result);
  if (result.status != 200 && result.status != 206) {
    result.error_text = HttpStatusText(result.status);
    return false;
  }
  return ReadBody(request.get(), result, sink, sinkContext, cancel);
}

std::wstring SystemNetworkMessage(uint32_t code) {
  // WinHTTP's own numbers live in winhttp.dll's message table, the rest in the system's.
  wchar_t* buffer = nullptr;
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM;
  FormatMessageW(flags, GetModuleHandleW(L"winhttp.dll"), code, 0,
                 reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text;
  if (buffer) {
    text = trim(std::wstring_view(buffer));
    LocalFree(buffer);
  }
  return text;
}

}  // namespace sv
