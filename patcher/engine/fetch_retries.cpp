#include "patcher/engine/fetch_retries.h"

#include "common/clock_os.h"
#include "patcher/engine/log.h"
#include "release/url.h"

namespace sv {

namespace {

constexpr uint32_t kWaitStepMs = 50;
// False when cancelled during the wait.
bool WaitWatchingCancel(uint32_t totalMs, const CancelFlag* cancel) {
  for (uint32_t waited = 0; waited < totalMs; waited += kWaitStepMs) {
    if (IsCancelled(cancel)) return false;
    os::sleepMs(kWaitStepMs);
  }
  return !IsCancelled(cancel);
}

}  // namespace

std::wstring FreshUrl(const std::wstring& url) {
  return addQueryParam(url, L"t=" + std::to_wstring(os::tickCount()));
}

std::wstring SourceListUrl(const std::wstring& url, bool immutable) {
  return immutable ? url : FreshUrl(url);
}

std::wstring PastCacheUrl(const std::wstring& url) {
  return addQueryParam(url, L"r=" + std::to_wstring(os::tickCount()));
}

bool FetchWithRetries(const HttpClient& client, const std::wstring& url, size_t limit,
                      std::string& bodyOut, const CancelFlag* cancel, std::wstring& errorOut,
                      HttpResult* resultOut) {
  HttpResult result;
  for (int attempt = 1; attempt <= kFetchAttempts; ++attempt) {
    if (IsCancelled(cancel)) {
      errorOut = kCancelledText;
      break;
    }
    if (client.FetchToMemory(url, bodyOut, result, cancel, limit)) {
      if (resultOut) *resultOut = result;
      return true;
    }
    errorOut = result.error_text;
    Log(L"Indirilemedi (%d. deneme): %ls -> %ls", attempt, url.c_str(), result.error_text.c_str());
    // The file is not there or not ours to read: asking again changes nothing.
    if (result.status == 404 || result.status == 403) break;
    if (attempt < kFetchAttempts && !WaitWatchingCancel(uint32_t(attempt) * 1000, cancel)) {
      errorOut = kCancelledText;
      break;
    }
  }
  if (resultOut) *resultOut = result;
  return false;
}

}  // namespace sv
