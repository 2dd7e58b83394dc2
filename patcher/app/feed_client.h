#pragma once
// The feed reader: a thread of its own that fetches the feed at start and then at a fixed
// interval with its own HTTP client, keeps the last good feed under its own lock and tells the
// window by posting WM_SV_FEED. Independent of the update run.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "patcher/app/feed_document.h"

namespace sv {

constexpr uint32_t WM_SV_FEED = 0x8000 + 16;  // wParam 1: this fetch succeeded, 0: it failed
constexpr size_t kFeedSizeLimit = 262144;

class FeedClient {
 public:
  // window: an HWND for WM_SV_FEED (may be null in tests).
  FeedClient(std::wstring url, int32_t refreshSeconds, void* window);
  // Stop().
  ~FeedClient();
  FeedClient(const FeedClient&) = delete;
  FeedClient& operator=(const FeedClient&) = delete;

  // Starts the thread unless it runs already or the URL is empty.
  bool Start();
  // Sets the stop flag and signals the stop event, which also gives up a running request in
  // whatever it waits for (the connection, the server's headers, the body), and waits for the
  // thread to end. That takes milliseconds; a thread that has still not ended after 1 s keeps
  // what it uses alive and frees it itself. True when no thread is left running.
  bool Stop();
  // A copy of the last good feed.
  FeedData Snapshot() const;

  uint32_t IntervalMs() const;

  struct Shared;  // what the thread and the client share

 private:
  std::shared_ptr<Shared> shared_;
  void* thread_ = nullptr;
};

// The log line for a fetch result given the previous one (true before the first fetch): only
// changes are logged. httpError is empty when the document arrived but did not parse.
std::optional<std::wstring> FeedChangeLogLine(bool previousOk, bool ok, const std::wstring& httpError);

}  // namespace sv
