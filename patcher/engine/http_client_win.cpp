// HttpClient over WinHTTP. Never include <wininet.h> here: it clashes with <winhttp.h>.
#include <windows.h>
#include <winhttp.h>

#include <memory>

#include "common/text.h"
#include "patcher/engine/http_client.h"

namespace sv {

namespace {

constexpr DWORD kResolveTimeoutMs = 15000;
constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;
constexpr DWORD kTls10To12 = 0xA80;
constexpr DWORD kTls10Only = 0x80;
constexpr DWORD kMaxConnsPerServer = 16;

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h = nullptr) : h_(h) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() {
    if (h_) WinHttpCloseHandle(h_);
  }
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  HINTERNET h_;
};

// The record's strings belong to us once the call succeeded.
class IeProxyConfig {
 public:
  IeProxyConfig() { ok_ = WinHttpGetIEProxyConfigForCurrentUser(&config_) != FALSE; }
  IeProxyConfig(const IeProxyConfig&) = delete;
  IeProxyConfig& operator=(const IeProxyConfig&) = delete;
  ~IeProxyConfig() {
    if (!ok_) return;
    if (config_.lpszAutoConfigUrl) GlobalFree(config_.lpszAutoConfigUrl);
    if (config_.lpszProxy) GlobalFree(config_.lpszProxy);
    if (config_.lpszProxyBypass) GlobalFree(config_.lpszProxyBypass);
  }
  std::wstring proxy() const { return ok_ && config_.lpszProxy ? config_.lpszProxy : L""; }
  std::wstring bypass() const {
    return ok_ && config_.lpszProxyBypass ? config_.lpszProxyBypass : L"";
  }

 private:
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config_ = {};
  bool ok_ = false;
};

struct alignas(32) ReadBuffer {
  unsigned char bytes[kHttpPieceSize];
};

// WSAETIMEDOUT: Wine's WinHTTP passes the socket's own number up when a body read times out,
// where Windows reports ERROR_WINHTTP_TIMEOUT. Both mean the same stall.
constexpr DWORD kSocketTimedOut = 10060;

void FailWithLastError(HttpResult& result) {
  result.error_code = GetLastError();
  if (result.error_code == kSocketTimedOut) result.error_code = ERROR_WINHTTP_TIMEOUT;
  result.error_text = HttpClient::ErrorText(result.error_code);
}

struct CrackedUrl {
  std::wstring host;
  std::wstring path;
  INTERNET_PORT port = 0;
  bool secure = false;
};

bool CrackUrl(const std::wstring& url, CrackedUrl& out) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = DWORD(-1);
  parts.dwHostNameLength = DWORD(-1);
  parts.dwUrlPathLength = DWORD(-1);
  parts.dwExtraInfoLength = DWORD(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
  if (!parts.lpszHostName || parts.dwHostNameLength == 0) {
    SetLastError(ERROR_WINHTTP_INVALID_URL);
    return false;
  }
  out.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  if (parts.lpszUrlPath && parts.dwUrlPathLength > 0)
    out.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  else
    out.path = L"/";
  if (parts.lpszExtraInfo && parts.dwExtraInfoLength > 0)
    out.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  out.port = parts.nPort;
  out.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return true;
}

// One response header of an open request; false when absent.
bool QueryHeader(void* request, uint32_t infoLevel, std::wstring& valueOut) {
  valueOut.clear();
  DWORD bytes = 0;
  if (WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX,
                          WINHTTP_NO_OUTPUT_BUFFER, &bytes, WINHTTP_NO_HEADER_INDEX) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes == 0)
    return false;
  std::wstring value(bytes / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX, value.data(),
                           &bytes, WINHTTP_NO_HEADER_INDEX))
    return false;
  value.resize(bytes / sizeof(wchar_t));
  valueOut = std::move(value);
  return true;
}

void ReadResponseHeaders(HINTERNET request, HttpResult& result) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
    result.status = status;
  std::wstring value;
  if (QueryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH, value))
    result.has_length = HttpClient::ParseDigits(value, result.content_length);
  if (QueryHeader(request, WINHTTP_QUERY_CONTENT_RANGE, value))
    HttpClient::ParseContentRange(value, result);
}

constexpr DWORD kMaxResponseHeaderBytes = 65536;
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
  std::wstring proxy, bypass;
  {
    IeProxyConfig ie;
    proxy = ie.proxy();
    bypass = ie.bypass();
  }
  HINTERNET session = nullptr;
  if (!proxy.empty())
    session = WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(),
                          bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), 0);
  if (!session)
    session = WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return false;
  session_ = session;
  WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                     kReceiveTimeoutMs);
  // The wait for the response headers has a limit of its own, which some WinHTTP versions
  // (Wine's among them) leave infinite: a server that accepts and never answers would hold the
  // run until it closes the connection. Give it the receive time-out.
  DWORD responseTimeout = kReceiveTimeoutMs;
  WinHttpSetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));
  DWORD protocols = kTls10To12;
  if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols,
                        sizeof(protocols))) {
    // Systems without TLS 1.1/1.2 support refuse the combined value.
    protocols = kTls10Only;
    WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
  }
  // Response headers are never more than a few KiB; a server sending endless header lines is
  // refused at 64 KiB (Windows' default, set here so that no system's default is larger).
  DWORD headerLimit = kMaxResponseHeaderBytes;
  WinHttpSetOption(session, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &headerLimit,
                   sizeof(headerLimit));
  DWORD conns = kMaxConnsPerServer;
  WinHttpSetOption(session, WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof(conns));
  WinHttpSetOption(session, WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, &conns, sizeof(conns));
  return true;
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
    FailWithLastError(result);
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
