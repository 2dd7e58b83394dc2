#pragma once
// What the WinHTTP transports share: the session as the patcher sets it up (proxy, time-outs,
// TLS, limits), the address split, the error numbers and the response headers. Never include
// <wininet.h> beside this: it clashes with <winhttp.h>.
#include <windows.h>
#include <winhttp.h>

#include <string>

#include "http/http_client.h"

namespace sv {

// Closes a WinHTTP handle when it goes out of scope.
class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET h = nullptr) : h_(h) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() { reset(); }
  HINTERNET get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  void reset(HINTERNET h = nullptr) {
    if (h_) WinHttpCloseHandle(h_);
    h_ = h;
  }

 private:
  HINTERNET h_;
};

// A session with the user's proxy settings, time-outs (resolve and connect 15 s, send, receive
// and the wait for the response headers 30 s), TLS 1.0-1.3, a 64 KiB response header limit and
// 16 connections per server. flags: WinHttpOpen's (0, or WINHTTP_FLAG_ASYNC). Null on failure.
HINTERNET OpenWinHttpSession(const std::wstring& userAgent, DWORD flags);

struct CrackedUrl {
  std::wstring host;
  std::wstring path;
  INTERNET_PORT port = 0;
  bool secure = false;
};
// False (with the last error set) for an address WinHTTP cannot split or without a host.
bool CrackUrl(const std::wstring& url, CrackedUrl& out);

// The error number and its text into the result (Wine's socket time-out counts as WinHTTP's). A
// secure-connection failure is told more precisely by the flags of WinHTTP's SECURE_FAILURE
// notification, when one came (`certificateFlags`).
void FailWithCode(HttpResult& result, DWORD code, DWORD certificateFlags = 0);
inline void FailWithLastError(HttpResult& result) { FailWithCode(result, GetLastError()); }

// Collects the flags of a request's SECURE_FAILURE notifications into the DWORD its context
// points to (a synchronous request's status callback).
void CALLBACK CollectSecureFailure(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info,
                                   DWORD length);

// Status, Content-Length and Content-Range of a request whose headers have arrived.
void ReadResponseHeaders(HINTERNET request, HttpResult& result);

}  // namespace sv
