#include "http/http_stoppable_win.h"

#include <atomic>

#include "http/http_rate_limit.h"
#include "http/http_winhttp_win.h"

namespace sv {

namespace {

constexpr DWORD kCompletions = WINHTTP_CALLBACK_FLAG_SENDREQUEST_COMPLETE | WINHTTP_CALLBACK_FLAG_HEADERS_AVAILABLE |
                               WINHTTP_CALLBACK_FLAG_READ_COMPLETE | WINHTTP_CALLBACK_FLAG_REQUEST_ERROR |
                               WINHTTP_CALLBACK_FLAG_HANDLES | WINHTTP_CALLBACK_FLAG_SECURE_FAILURE;
constexpr DWORD kPieceSize = 16384;

// What one request shares with WinHTTP's callback, which runs on WinHTTP's threads (or inside the
// call that started an operation). Each operation started ends in exactly one completion (its
// own or REQUEST_ERROR), told by `done`. The request's context points here while an operation
// may still complete: a request given up in the middle keeps the record (and the buffer WinHTTP
// may still write into) until WinHTTP says the handle is gone; one that ends with nothing
// outstanding clears the context first and frees it at once.
struct Exchange {
  HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
  std::atomic<DWORD> status{0};
  std::atomic<DWORD> error{0};
  std::atomic<DWORD> bytes{0};
  std::atomic<DWORD> certificateFlags{0};  // of SECURE_FAILURE, which comes before the error
  std::atomic<bool> abandoned{false};
  unsigned char buffer[kPieceSize];

  ~Exchange() {
    if (done) CloseHandle(done);
  }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  auto* x = reinterpret_cast<Exchange*>(context);
  if (!x) return;
  if (status == WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING) {
    // The last call for the handle: a given-up request's record goes with it.
    if (x->abandoned.load()) delete x;
    return;
  }
  if (x->abandoned.load()) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
      if (info && length >= sizeof(DWORD)) x->certificateFlags |= *static_cast<DWORD*>(info);
      return;  // not a completion
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      x->error = info ? static_cast<WINHTTP_ASYNC_RESULT*>(info)->dwError : DWORD(ERROR_WINHTTP_INTERNAL_ERROR);
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      x->bytes = length;
      break;
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      break;
    default:
      return;  // not a completion
  }
  x->status = status;
  SetEvent(x->done);  // the last touch of the record: the caller may free it from here on
}

// One request and its handles.
class Request {
 public:
  Request(HINTERNET session, HANDLE stop) : session_(session), stop_(stop) {}
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  ~Request() { Finish(); }

  bool Fetch(const std::wstring& url, std::string& body, HttpResult& result, size_t limit);

 private:
  enum class Step { Completed, Failed, Stopped };
  // Waits for the completion of the operation just started (expected), or for the stop.
  Step Await(DWORD expected, HttpResult& result);
  // Gives the handles back; with an operation outstanding, leaves the record to the callback.
  void Finish();

  HINTERNET session_;
  HANDLE stop_;
  InternetHandle connection_;
  InternetHandle request_;
  Exchange* exchange_ = nullptr;
  bool outstanding_ = false;
};

Request::Step Request::Await(DWORD expected, HttpResult& result) {
  outstanding_ = true;
  HANDLE handles[2] = {stop_, exchange_->done};
  // The stop comes first when both are signalled.
  const DWORD waited = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
  if (waited != WAIT_OBJECT_0 + 1) {
    result.error_text = kCancelledText;
    return Step::Stopped;
  }
  outstanding_ = false;
  const DWORD status = exchange_->status.load();
  if (status == WINHTTP_CALLBACK_STATUS_REQUEST_ERROR) {
    FailWithCode(result, exchange_->error.load(), exchange_->certificateFlags.load());
    return Step::Failed;
  }
  if (status != expected) {
    FailWithCode(result, ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
    return Step::Failed;
  }
  return Step::Completed;
}

void Request::Finish() {
  if (request_) {
    if (outstanding_) {
      // WinHTTP may still complete the operation (Wine's finishes a wait for headers only when
      // the server answers or the time-out passes, and calls back then): the record stays.
      exchange_->abandoned = true;
      exchange_ = nullptr;
    } else {
      DWORD_PTR none = 0;
      WinHttpSetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &none, sizeof(none));
    }
    request_.reset();
  }
  connection_.reset();
  delete exchange_;
  exchange_ = nullptr;
}

bool Request::Fetch(const std::wstring& url, std::string& body, HttpResult& result, size_t limit) {
  CrackedUrl target;
  if (!CrackUrl(url, target)) {
    result.error_code = GetLastError();
    result.error_text = L"Geçersiz adres: " + url;
    return false;
  }
  connection_.reset(WinHttpConnect(session_, target.host.c_str(), target.port, 0));
  if (!connection_) {
    FailWithLastError(result);
    return false;
  }
  request_.reset(WinHttpOpenRequest(connection_.get(), L"GET", target.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                    WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
  exchange_ = new Exchange();
  if (!request_ || !exchange_->done) {
    FailWithLastError(result);
    return false;
  }
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(exchange_);
  WinHttpSetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context));

  // Connecting and sending (Wine's WinHTTP also waits for the headers here).
  if (!WinHttpSendRequest(request_.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, context)) {
    FailWithLastError(result);
    return false;
  }
  if (Await(WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, result) != Step::Completed) return false;
  // The server's headers.
  if (!WinHttpReceiveResponse(request_.get(), nullptr)) {
    FailWithLastError(result);
    return false;
  }
  if (Await(WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, result) != Step::Completed) return false;
  ReadResponseHeaders(request_.get(), result);
  if (result.status != 200 && result.status != 206) {
    result.error_text = HttpStatusText(result.status);
    return false;
  }
  if (result.has_length && result.content_length <= limit) body.reserve(size_t(result.content_length));
  // The body, piece by piece.
  for (;;) {
    if (!WinHttpReadData(request_.get(), exchange_->buffer, kPieceSize, nullptr)) {
      FailWithLastError(result);
      return false;
    }
    if (Await(WINHTTP_CALLBACK_STATUS_READ_COMPLETE, result) != Step::Completed) return false;
    const DWORD got = exchange_->bytes.load();
    if (got == 0) break;
    if (got > limit - body.size()) {
      result.error_text = L"Yanıt çok büyük";
      return false;
    }
    body.append(reinterpret_cast<const char*>(exchange_->buffer), got);
    const DWORD wait = ProcessRateLimiter().Reserve(got, GetTickCount());
    if (wait && WaitForSingleObject(stop_, wait) == WAIT_OBJECT_0) {
      result.error_text = kCancelledText;
      return false;
    }
  }
  if (result.has_length && body.size() != result.content_length) {
    result.error_text = kHttpShortBodyText;
    return false;
  }
  return true;
}

}  // namespace

bool StoppableHttp::Open(const std::wstring& userAgent) {
  Close();
  HINTERNET session = OpenWinHttpSession(userAgent, WINHTTP_FLAG_ASYNC);
  if (!session) return false;
  if (WinHttpSetStatusCallback(session, OnStatus, kCompletions, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    WinHttpCloseHandle(session);
    return false;
  }
  session_ = session;
  return true;
}

void StoppableHttp::Close() {
  if (session_) WinHttpCloseHandle(static_cast<HINTERNET>(session_));
  session_ = nullptr;
}

bool StoppableHttp::FetchToMemory(const std::wstring& url, std::string& bodyOut, HttpResult& result, HANDLE stop,
                                  size_t limit) {
  result.Reset();
  bodyOut.clear();
  if (!session_) {
    result.error_text = kHttpNotOpenText;
    return false;
  }
  if (WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
    result.error_text = kCancelledText;
    return false;
  }
  Request request(static_cast<HINTERNET>(session_), stop);
  return request.Fetch(url, bodyOut, result, limit);
}

}  // namespace sv
