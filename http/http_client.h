#pragma once
// The patcher's network access: synchronous GET requests, optionally for a byte range, with the
// body streamed in pieces of at most 64 KiB into a caller's sink. Every failure becomes a result
// (a WinHTTP error number and/or a Turkish text), never an exception. Retrying and ranged
// downloading of files are the callers' business.
//
// The requests go through the system's transport: WinHTTP on Windows, libcurl on the host. Both
// report failures with WinHTTP's numbers and the same texts, so no caller can tell them apart.
//
// Several threads may call Get on one client at once: the client keeps no per-request state.
// Open and Close are for the owner, while none of its requests runs.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace sv {

// What one request reports; every request resets all fields first.
struct HttpResult {
  uint32_t status = 0;          // HTTP status; 0 when no response arrived
  bool has_length = false;      // Content-Length present with at least one digit
  uint64_t content_length = 0;
  bool has_range = false;       // Content-Range present and all three numbers read
  uint64_t range_first = 0;
  uint64_t range_last = 0;      // inclusive
  uint64_t range_total = 0;
  uint32_t error_code = 0;      // error number of the failed WinHTTP call; 0 for status failures
  std::wstring error_text;      // empty on success

  void Reset() { *this = HttpResult(); }
};

// Receives the body piece by piece; returning false stops the transfer.
using HttpSink = bool (*)(void* context, const void* data, uint32_t size);

// Owned by the caller; any non-zero value asks a running request to stop.
using CancelFlag = std::atomic<int32_t>;

inline bool IsCancelled(const CancelFlag* cancel) {
  return cancel && cancel->load(std::memory_order_relaxed) != 0;
}

// The text of every request or wait that stopped because the flag was set.
constexpr wchar_t kCancelledText[] = L"İptal edildi";

constexpr uint32_t kHttpPieceSize = 65536;

// WinHTTP's error numbers, which both transports report.
constexpr uint32_t kHttpErrorTimeout = 12002;
constexpr uint32_t kHttpErrorInvalidUrl = 12005;
constexpr uint32_t kHttpErrorUnrecognizedScheme = 12006;
constexpr uint32_t kHttpErrorNameNotResolved = 12007;
constexpr uint32_t kHttpErrorCancelled = 12017;
constexpr uint32_t kHttpErrorCannotConnect = 12029;
constexpr uint32_t kHttpErrorConnectionError = 12030;
constexpr uint32_t kHttpErrorResendRequest = 12032;
constexpr uint32_t kHttpErrorInvalidServerResponse = 12152;
constexpr uint32_t kHttpErrorSecureFailure = 12175;
constexpr uint32_t kHttpErrorSecureChannel = 12157;
// What was wrong with a server's certificate, each with a text of its own: a player (or the
// operator reading the log) can tell a wrong clock from a wrong address or an unknown issuer.
constexpr uint32_t kHttpErrorCertDateInvalid = 12037;
constexpr uint32_t kHttpErrorCertNameInvalid = 12038;
constexpr uint32_t kHttpErrorCertUnknownIssuer = 12045;
constexpr uint32_t kHttpErrorCertInvalid = 12169;
constexpr uint32_t kHttpErrorCertRevoked = 12170;

// What every response of a Get reports when it is not 200 or 206: "HTTP 404 (...)".
std::wstring HttpStatusText(uint32_t status);
constexpr wchar_t kHttpShortBodyText[] = L"Eksik veri alındı (bağlantı koptu)";
constexpr wchar_t kHttpNotOpenText[] = L"Ağ başlatılamadı";

// One way of making requests (the contract of HttpClient::Open, Close and Get).
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  virtual bool Open(const std::wstring& userAgent) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual bool Get(const std::wstring& url, int64_t rangeFirst, int64_t rangeLast,
                   HttpResult& result, HttpSink sink, void* sinkContext,
                   const CancelFlag* cancel) const = 0;
};

// The build's transport: WinHTTP on Windows, libcurl on the host.
std::unique_ptr<HttpTransport> MakeSystemTransport();

class HttpClient {
 public:
  HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  ~HttpClient() { Close(); }

  // (Re)opens the session: the user's proxy settings, time-outs (resolve and connect 15 s, send
  // and receive 30 s), TLS 1.0-1.2 and 16 connections per server.
  bool Open(const std::wstring& userAgent) { return transport_->Open(userAgent); }
  void Close() { transport_->Close(); }
  bool IsOpen() const { return transport_->IsOpen(); }

  // GET of `url`. rangeFirst < 0: no Range header; rangeLast < 0: an open-ended range. The body
  // goes to `sink` (read and dropped when null), paced by the process's bandwidth limit
  // (http_rate_limit.h). True only when the complete body was delivered with status 200 or 206.
  bool Get(const std::wstring& url, int64_t rangeFirst, int64_t rangeLast, HttpResult& result,
           HttpSink sink, void* sinkContext, const CancelFlag* cancel) const;

  // The whole body into `bodyOut` (emptied first); a body longer than `limit` fails with
  // "Yanıt çok büyük" and never grows the buffer past the limit.
  bool FetchToMemory(const std::wstring& url, std::string& bodyOut, HttpResult& result,
                     const CancelFlag* cancel, size_t limit) const;

  // Turkish text for a WinHTTP/Windows error number: fixed texts for the common network
  // failures, otherwise the system's text (or "Ağ hatası") followed by " (code)".
  static std::wstring ErrorText(uint32_t code);
  // Skips to the first decimal digit and reads the digits from there; false (and 0) when none.
  static bool ParseDigits(std::wstring_view text, uint64_t& valueOut);
  // Reads "bytes first-last/total" into the range fields; has_range only when all three parsed.
  static void ParseContentRange(std::wstring_view text, HttpResult& result);

 private:
  std::unique_ptr<HttpTransport> transport_;
};

// The system's own text for a transport error number (winhttp.dll's message table on Windows);
// empty when it has none.
std::wstring SystemNetworkMessage(uint32_t code);

}  // namespace sv
