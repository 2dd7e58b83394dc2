#include <windows.h>
#include <process.h>

#include <atomic>
#include <mutex>

#include "common/scoped_win.h"
#include "patcher/app/feed_client.h"
#include "http/http_stoppable_win.h"
#include "patcher/engine/log.h"

namespace sv {

struct FeedClient::Shared {
  std::wstring url;
  uint32_t intervalMs = 0;
  HWND window = nullptr;
  ScopedHandle stopEvent;  // also ends a request in whatever it waits for
  CancelFlag stop{0};
  mutable std::mutex lock;
  FeedData data;  // guarded by lock
};

namespace {

struct ThreadStart {
  std::shared_ptr<FeedClient::Shared> shared;
};

bool Stopping(const FeedClient::Shared& s) {
  return IsCancelled(&s.stop) || WaitForSingleObject(s.stopEvent.get(), 0) == WAIT_OBJECT_0;
}

void FeedLoop(FeedClient::Shared& s) {
  StoppableHttp http;
  if (!http.Open(L"Sarvik/1.0")) {
    Log(L"Duyuru akisi baslatilamadi (%u)", unsigned(GetLastError()));
    return;
  }
  bool previousOk = true;
  for (;;) {
    std::string body;
    HttpResult result;
    FeedData parsed;
    const bool ok = http.FetchToMemory(s.url, body, result, s.stopEvent.get(), kFeedSizeLimit) &&
                    ParseFeed(body, parsed);
    if (Stopping(s)) break;
    if (ok) {
      std::lock_guard<std::mutex> guard(s.lock);
      s.data = std::move(parsed);
    }
    if (auto line = FeedChangeLogLine(previousOk, ok, result.error_text)) Log(L"%ls", line->c_str());
    previousOk = ok;
    if (s.window) PostMessageW(s.window, WM_SV_FEED, ok ? 1 : 0, 0);
    if (WaitForSingleObject(s.stopEvent.get(), s.intervalMs) != WAIT_TIMEOUT) break;
  }
  http.Close();
}

unsigned __stdcall FeedThread(void* param) {
  // The thread holds its own reference: a client that gave up waiting may be gone already.
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(param));
  FeedLoop(*start->shared);
  return 0;
}

}  // namespace

FeedClient::FeedClient(std::wstring url, int32_t refreshSeconds, void* window)
    : shared_(std::make_shared<Shared>()) {
  shared_->url = std::move(url);
  shared_->intervalMs = FeedIntervalMs(refreshSeconds);
  shared_->window = static_cast<HWND>(window);
  shared_->stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
}

FeedClient::~FeedClient() { Stop(); }

uint32_t FeedClient::IntervalMs() const { return shared_->intervalMs; }

bool FeedClient::Start() {
  if (thread_ || shared_->url.empty() || !shared_->stopEvent) return false;
  shared_->stop.store(0);
  ResetEvent(shared_->stopEvent.get());
  auto* start = new ThreadStart{shared_};
  const uintptr_t handle = _beginthreadex(nullptr, 0, FeedThread, start, 0, nullptr);
  if (!handle) {
    delete start;
    Log(L"Duyuru akisi baslatilamadi (%u)", unsigned(GetLastError()));
    return false;
  }
  thread_ = reinterpret_cast<void*>(handle);
  return true;
}

bool FeedClient::Stop() {
  if (!thread_) return true;
  shared_->stop.store(1);
  SetEvent(shared_->stopEvent.get());
  const bool ended = WaitForSingleObject(static_cast<HANDLE>(thread_), 1000) == WAIT_OBJECT_0;
  CloseHandle(static_cast<HANDLE>(thread_));
  thread_ = nullptr;
  if (!ended) {
    // The thread still holds the shared record; it frees it when its request gives up.
    Log(L"Duyuru akisi 1 sn icinde durmadi.");
    auto copy = std::make_shared<Shared>();
    copy->url = shared_->url;
    copy->intervalMs = shared_->intervalMs;
    copy->window = shared_->window;
    copy->stopEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    copy->data = Snapshot();
    shared_ = std::move(copy);
  }
  return ended;
}

FeedData FeedClient::Snapshot() const {
  std::lock_guard<std::mutex> guard(shared_->lock);
  return shared_->data;
}

}  // namespace sv
