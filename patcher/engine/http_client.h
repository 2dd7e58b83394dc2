#pragma once
// The patcher's only network transport: synchronous GET requests over WinHTTP, optionally for a
// byte range, with the body streamed in 64 KiB pieces into a caller's sink. Every failure becomes
// a result (a WinHTTP error number and/or a Turkish text), never an exception. Retrying and ranged
// downloading of files are the callers' business.
//
// Several threads may call Get on one client at once: the client keeps no per-request state.
// Open and Close are for the owner, while none of its requests runs.
#include <atomic>
#include <cstddef>
#include <cstdint>
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

class HttpClient {
 public:
  HttpClient() = default;
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;
  ~HttpClient() { Close(); }

  // (Re)opens the session: the user's proxy settings, time-outs (resolve and connect 15 s, send
  // and receive 30 s), TLS 1.0-1.2 and 16 connections per server.
  bool Open(const std::wstring& userAgent);
  void Close();
  bool IsOpen() const { return session_ != nullptr; }

  // GET of `url`. rangeFirst < 0: no Range header; rangeLast < 0: an open-ended range. The body
  // goes to `sink` (read and dropped when null). True only when the complete body was delivered
  // with status 200 or 206.
  bool Get(const std::wstring& url, int64_t rangeFirst, int64_t rangeLast, HttpResult& result,
           HttpSink sink, void* sinkContext, const CancelFlag* cancel) const;

  // The whole body into `bodyOut` (emptied first); a body longer than `limit` fails with
  // "Yanıt çok büyük" and never grows the buffer past the limit.
  bool FetchToMemory(const std::wstring& url, std::string& bodyOut, HttpResult& result,
                     const CancelFlag* cancel, size_t limit) const;

  // Turkish text for a WinHTTP/Windows error number: fixed texts for the common network
  // failures, otherwise the system's text (or "Ağ hatası") followed by " (code)".
  static std::wstring ErrorText(uint32_t code);
  // One response header of an open request handle (an HINTERNET); false when absent.
  static bool QueryHeader(void* request, uint32_t infoLevel, std::wstring& valueOut);
  // Skips to the first decimal digit and reads the digits from there; false (and 0) when none.
  static bool ParseDigits(std::wstring_view text, uint64_t& valueOut);
  // Reads "bytes first-last/total" into the range fields; has_range only when all three parsed.
  static void ParseContentRange(std::wstring_view text, HttpResult& result);

 private:
  void* session_ = nullptr;  // HINTERNET from WinHttpOpen
};

}  // namespace sv
