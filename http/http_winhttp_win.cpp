// The WinHTTP pieces both transports use (the synchronous one in http_client_win.cpp, the
// stoppable one in http_stoppable_win.cpp).
#include "http/http_winhttp_win.h"

namespace sv {

namespace {

constexpr DWORD kResolveTimeoutMs = 15000;
constexpr DWORD kConnectTimeoutMs = 15000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kReceiveTimeoutMs = 30000;
constexpr DWORD kTls10To12 = 0xA80;
// WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3, which older headers and systems do not know.
constexpr DWORD kTls13 = 0x2000;
constexpr DWORD kTls10Only = 0x80;
constexpr DWORD kMaxConnsPerServer = 16;
constexpr DWORD kMaxResponseHeaderBytes = 65536;

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

// WSAETIMEDOUT: Wine's WinHTTP passes the socket's own number up when a body read times out,
// where Windows reports ERROR_WINHTTP_TIMEOUT. Both mean the same stall.
constexpr DWORD kSocketTimedOut = 10060;

}  // namespace

namespace {

// The certificate problem a SECURE_FAILURE notification names, as its own error number.
DWORD CertificateProblem(DWORD flags) {
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED) return kHttpErrorCertRevoked;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) return kHttpErrorCertUnknownIssuer;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) return kHttpErrorCertNameInvalid;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) return kHttpErrorCertDateInvalid;
  if (flags & (WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT |
               WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE))
    return kHttpErrorCertInvalid;
  return 0;
}

}  // namespace

void FailWithCode(HttpResult& result, DWORD code, DWORD certificateFlags) {
  if (code == kSocketTimedOut) code = ERROR_WINHTTP_TIMEOUT;
  const bool secure = code == ERROR_WINHTTP_SECURE_FAILURE ||
                      code == ERROR_WINHTTP_SECURE_CHANNEL_ERROR;
  if (secure && CertificateProblem(certificateFlags)) code = CertificateProblem(certificateFlags);
  result.error_code = code;
  result.error_text = HttpClient::ErrorText(result.error_code);
}

void CALLBACK CollectSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                   DWORD length) {
  if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && context && info &&
      length >= sizeof(DWORD))
    *reinterpret_cast<DWORD*>(context) |= *static_cast<const DWORD*>(info);
}

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

namespace {

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

}  // namespace

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

HINTERNET OpenWinHttpSession(const std::wstring& userAgent, DWORD flags) {
  std::wstring proxy, bypass;
  {
    IeProxyConfig ie;
    proxy = ie.proxy();
    bypass = ie.bypass();
  }
  HINTERNET session = nullptr;
  if (!proxy.empty())
    session = WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.c_str(),
                          bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : bypass.c_str(), flags);
  if (!session)
    session = WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                          WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, flags);
  if (!session) return nullptr;
  WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                     kReceiveTimeoutMs);
  // The wait for the response headers has a limit of its own, which some WinHTTP versions
  // (Wine's among them) leave infinite: a server that accepts and never answers would hold the
  // run until it closes the connection. Give it the receive time-out.
  DWORD responseTimeout = kReceiveTimeoutMs;
  WinHttpSetOption(session, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));
  // The newest set the system takes: systems without TLS 1.3 refuse its flag, those without
  // TLS 1.1/1.2 the combined value.
  for (const DWORD protocols : {kTls10To12 | kTls13, kTls10To12, kTls10Only}) {
    if (WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS,
                         const_cast<DWORD*>(&protocols), sizeof(protocols)))
      break;
  }
  // Response headers are never more than a few KiB; a server sending endless header lines is
  // refused at 64 KiB (Windows' default, set here so that no system's default is larger).
  DWORD headerLimit = kMaxResponseHeaderBytes;
  WinHttpSetOption(session, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &headerLimit,
                   sizeof(headerLimit));
  DWORD conns = kMaxConnsPerServer;
  WinHttpSetOption(session, WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof(conns));
  WinHttpSetOption(session, WINHTTP_OPTION_MAX_CONNS_PER_1_0_SERVER, &conns, sizeof(conns));
  return session;
}

}  // namespace sv
