// HttpClient's transport on the host: libcurl, with its failures given WinHTTP's numbers and
// texts (the engine and its tests see the same results on both builds).
#include <curl/curl.h>
#include <openssl/x509_vfy.h>

#include <cstdlib>
#include <mutex>

#include "common/text.h"
#include "http/http_client.h"

namespace sv {

namespace {

constexpr long kConnectTimeoutMs = 15000;
// WinHTTP's receive time-out: a response or body that stalls this long fails.
constexpr long kStallSeconds = 30;
constexpr long kMaxRedirects = 10;
constexpr size_t kMaxResponseHeaderBytes = 65536;
constexpr uint32_t kHttpErrorHeaderOverflow = 12183;
// How late a request sees its stop flag while nothing arrives: curl_easy_perform would sleep up to
// a second between looks, and a transfer cut for a faster mirror would hold its worker that long.
constexpr int kStopLookMs = 50;

// One connection cache for all requests of the process, as WinHTTP keeps one per session.
class SharedConnections {
 public:
  SharedConnections() {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    share_ = curl_share_init();
    curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, Lock);
    curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, Unlock);
    curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
  }
  ~SharedConnections() {
    curl_share_cleanup(share_);
    curl_global_cleanup();
  }
  CURLSH* get() const { return share_; }

 private:
  static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
    static_cast<SharedConnections*>(self)->locks_[data % kLocks].lock();
  }
  static void Unlock(CURL*, curl_lock_data data, void* self) {
    static_cast<SharedConnections*>(self)->locks_[data % kLocks].unlock();
  }
  static constexpr int kLocks = CURL_LOCK_DATA_LAST;
  CURLSH* share_ = nullptr;
  std::mutex locks_[kLocks];
};

SharedConnections& Shared() {
  static SharedConnections shared;
  return shared;
}

struct Transfer {
  HttpResult* result;
  HttpSink sink;
  void* sinkContext;
  const CancelFlag* cancel;
  size_t headerBytes = 0;
  bool headerOverflow = false;
  bool refused = false;      // a status other than 200 or 206 came with a body
  bool stopped = false;      // the sink or the cancel flag ended the body
  uint64_t received = 0;
};

bool StartsWithNoCase(const std::string& line, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (i >= line.size()) return false;
    char c = line[i];
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

size_t OnHeader(char* data, size_t size, size_t count, void* context) {
  Transfer& t = *static_cast<Transfer*>(context);
  const size_t bytes = size * count;
  t.headerBytes += bytes;
  if (t.headerBytes > kMaxResponseHeaderBytes) {
    t.headerOverflow = true;
    return 0;
  }
  const std::string line(data, bytes);
  HttpResult& r = *t.result;
  if (StartsWithNoCase(line, "http/")) {
    // A new response (after a redirect): only the last one's headers count.
    r.Reset();
    const size_t space = line.find(' ');
    uint64_t status = 0;
    if (space != std::string::npos && HttpClient::ParseDigits(toWide(line.substr(space)), status))
      r.status = uint32_t(status);
    t.headerBytes = bytes;
  } else if (StartsWithNoCase(line, "content-length:")) {
    r.has_length = HttpClient::ParseDigits(toWide(line.substr(15)), r.content_length);
  } else if (StartsWithNoCase(line, "content-range:")) {
    HttpClient::ParseContentRange(toWide(line.substr(14)), r);
  }
  return bytes;
}

size_t OnBody(char* data, size_t size, size_t count, void* context) {
  Transfer& t = *static_cast<Transfer*>(context);
  const size_t bytes = size * count;
  if (t.result->status != 200 && t.result->status != 206) {
    t.refused = true;
    return 0;
  }
  if (IsCancelled(t.cancel)) {
    t.stopped = true;
    t.result->error_text = kCancelledText;
    return 0;
  }
  for (size_t done = 0; done < bytes;) {
    const uint32_t piece = uint32_t(bytes - done < kHttpPieceSize ? bytes - done : kHttpPieceSize);
    t.received += piece;
    if (t.sink && !t.sink(t.sinkContext, data + done, piece)) {
      t.stopped = true;
      if (t.result->error_text.empty()) t.result->error_text = kCancelledText;
      return 0;
    }
    done += piece;
  }
  return bytes;
}

int OnProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return IsCancelled(static_cast<Transfer*>(context)->cancel) ? 1 : 0;
}

// curl_easy_perform with the stop flag looked at every kStopLookMs, whatever the transfer waits
// for; a stopped transfer ends as one its progress callback aborted.
CURLcode PerformWatchingStop(CURL* curl, const CancelFlag* cancel) {
  CURLM* multi = curl_multi_init();
  if (!multi || curl_multi_add_handle(multi, curl) != CURLM_OK) {
    if (multi) curl_multi_cleanup(multi);
    return curl_easy_perform(curl);
  }
  CURLcode code = CURLE_GOT_NOTHING;
  for (int running = 1;;) {
    if (curl_multi_perform(multi, &running) != CURLM_OK) {
      code = CURLE_OUT_OF_MEMORY;
      break;
    }
    if (running == 0) {
      int queued = 0;
      while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE) code = message->data.result;
      }
      break;
    }
    if (IsCancelled(cancel)) {
      code = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    curl_multi_poll(multi, nullptr, 0, kStopLookMs, nullptr);
  }
  curl_multi_remove_handle(multi, curl);
  curl_multi_cleanup(multi);
  return code;
}

uint32_t WinHttpNumber(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
      return kHttpErrorTimeout;
    case CURLE_URL_MALFORMAT:
      return kHttpErrorInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kHttpErrorUnrecognizedScheme;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kHttpErrorNameNotResolved;
    case CURLE_ABORTED_BY_CALLBACK:
      return kHttpErrorCancelled;
    case CURLE_COULDNT_CONNECT:
      return kHttpErrorCannotConnect;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
      return kHttpErrorInvalidServerResponse;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
      return kHttpErrorSecureFailure;
    default:
      return kHttpErrorConnectionError;
  }
}

// A certificate that did not verify, told apart as WinHTTP tells it apart. A chain that OpenSSL
// accepted and curl's own check of the name refused leaves "ok" or "unspecified" behind.
uint32_t CertificateProblem(long verifyResult) {
  switch (verifyResult) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return kHttpErrorCertDateInvalid;
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return kHttpErrorCertNameInvalid;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
      return kHttpErrorCertUnknownIssuer;
    case X509_V_ERR_CERT_REVOKED:
      return kHttpErrorCertRevoked;
    default:
      return kHttpErrorCertInvalid;
  }
}

// What WinHttpCrackUrl refuses: another scheme, or no host name.
uint32_t UrlProblem(const std::string& url) {
  CURLU* parts = curl_url();
  uint32_t problem = 0;
  char* scheme = nullptr;
  char* host = nullptr;
  if (curl_url_set(parts, CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(parts, CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
    problem = kHttpErrorUnrecognizedScheme;
  } else if (std::string(scheme) != "http" && std::string(scheme) != "https") {
    problem = kHttpErrorUnrecognizedScheme;
  } else if (curl_url_get(parts, CURLUPART_HOST, &host, 0) != CURLUE_OK || !*host) {
    problem = kHttpErrorInvalidUrl;
  }
  curl_free(scheme);
  curl_free(host);
  curl_url_cleanup(parts);
  return problem;
}

class CurlTransport : public HttpTransport {
 public:
  bool Open(const std::wstring& userAgent) override {
    Shared();
    userAgent_ = toUtf8(userAgent);
    // Host builds serve the tests and benchmarks: their HTTPS servers carry certificates of a
    // CA made for the run, which the Windows build finds in the system's store instead.
    const char* caFile = std::getenv("SV_CA_FILE");
    caFile_ = caFile ? caFile : "";
    open_ = true;
    return true;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  bool Get(const std::wstring& url, int64_t rangeFirst, int64_t rangeLast, HttpResult& result,
           HttpSink sink, void* sinkContext, const CancelFlag* cancel) const override;

 private:
  std::string userAgent_;
  std::string caFile_;
  bool open_ = false;
};

bool CurlTransport::Get(const std::wstring& url, int64_t rangeFirst, int64_t rangeLast,
                        HttpResult& result, HttpSink sink, void* sinkContext,
                        const CancelFlag* cancel) const {
  result.Reset();
  if (!open_) {
    result.error_text = kHttpNotOpenText;
    return false;
  }
  const std::string target = toUtf8(url);
  if (const uint32_t problem = UrlProblem(target)) {
    result.error_code = problem;
    result.error_text = L"Geçersiz adres: " + url;
    return false;
  }
  CURL* curl = curl_easy_init();
  if (!curl) {
    result.error_text = kHttpNotOpenText;
    return false;
  }
  Transfer transfer{&result, sink, sinkContext, cancel};
  std::string range;
  if (rangeFirst >= 0) {
    range = std::to_string(rangeFirst) + "-";
    if (rangeLast >= 0) range += std::to_string(rangeLast);
  }
  curl_easy_setopt(curl, CURLOPT_URL, target.c_str());
  curl_easy_setopt(curl, CURLOPT_SHARE, Shared().get());
  curl_easy_setopt(curl, CURLOPT_USERAGENT, userAgent_.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
  curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, long(kHttpPieceSize));
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, OnHeader);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
  curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
  curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
  if (!range.empty()) curl_easy_setopt(curl, CURLOPT_RANGE, range.c_str());
  if (!caFile_.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile_.c_str());
  const CURLcode code = PerformWatchingStop(curl, cancel);
  long verifyResult = X509_V_OK;
  if (code == CURLE_PEER_FAILED_VERIFICATION)
    curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
  curl_easy_cleanup(curl);

  if (transfer.refused) {
    result.error_text = HttpStatusText(result.status);
    return false;
  }
  if (transfer.stopped) return false;
  if (transfer.headerOverflow) {
    result.error_code = kHttpErrorHeaderOverflow;
    result.error_text = HttpClient::ErrorText(result.error_code);
    return false;
  }
  if (code == CURLE_ABORTED_BY_CALLBACK || (code != CURLE_OK && IsCancelled(cancel))) {
    result.error_text = kCancelledText;
    return false;
  }
  if (code == CURLE_PARTIAL_FILE) {
    result.error_text = kHttpShortBodyText;
    return false;
  }
  if (code != CURLE_OK) {
    result.error_code = code == CURLE_PEER_FAILED_VERIFICATION ? CertificateProblem(verifyResult)
                                                               : WinHttpNumber(code);
    result.error_text = HttpClient::ErrorText(result.error_code);
    return false;
  }
  if (result.status != 200 && result.status != 206) {
    result.error_text = HttpStatusText(result.status);
    return false;
  }
  if (result.has_length && transfer.received != result.content_length) {
    result.error_text = kHttpShortBodyText;
    return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<HttpTransport> MakeSystemTransport() { return std::make_unique<CurlTransport>(); }

// The host keeps no message table for WinHTTP's numbers: the text then shows the number alone.
std::wstring SystemNetworkMessage(uint32_t) { return {}; }

}  // namespace sv

// OpenSSL 3 (loaded by libcurl) keeps a record per thread that ends, which only its own exit
// handler frees, after LeakSanitizer has looked: not a leak of ours. Sanitizer builds only read
// this; other builds never call it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libcrypto.so\n"; }

