#pragma once
// Whole small documents over WinHTTP in asynchronous mode, for a thread that must end as soon as
// it is told to (the feed reader): the wait for a request's every step (the connection, the
// server's headers, each piece of the body) also ends on the caller's stop event, and the
// request's handles are closed then, which is how WinHTTP allows a request to be given up in any
// state. A synchronous request cannot be: it holds its thread until WinHTTP itself gives up
// (30 s for a server that accepts and never answers).
#include <windows.h>

#include <cstddef>
#include <string>

#include "http/http_client.h"

namespace sv {

class StoppableHttp {
 public:
  StoppableHttp() = default;
  StoppableHttp(const StoppableHttp&) = delete;
  StoppableHttp& operator=(const StoppableHttp&) = delete;
  ~StoppableHttp() { Close(); }

  // The session, set up as HttpClient::Open's; false when WinHTTP refuses it.
  bool Open(const std::wstring& userAgent);
  void Close();

  // GET of `url`, the whole body into `bodyOut` (emptied first): true only for a complete body
  // with status 200 or 206. A body longer than `limit` fails with "Yanıt çok büyük" and never
  // grows the buffer past the limit. When `stop` (an event) is signalled the call returns at
  // once with kCancelledText, whatever the request was waiting for.
  bool FetchToMemory(const std::wstring& url, std::string& bodyOut, HttpResult& result, HANDLE stop,
                     size_t limit);

 private:
  void* session_ = nullptr;  // HINTERNET
};

}  // namespace sv
