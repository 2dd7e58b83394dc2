// The feed reader's thread against real servers: the first fetch, a later failure that keeps
// the last good feed, the log lines, and stopping within a second (also while a request hangs).
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/text.h"
#include "patcher/app/feed_client.h"
#include "http/http_rate_limit.h"
#include "patcher/engine/log.h"

namespace {

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

// Unix paths of the servers' files, as Wine's drive Z: shows them.
std::wstring WinPath(const std::string& unixPath) {
  std::wstring p = L"Z:" + sv::toWide(unixPath);
  for (wchar_t& c : p) {
    if (c == L'/') c = L'\\';
  }
  return p;
}

void WriteServed(const std::string& name, const std::string& body) {
  std::ofstream(Env("SV_NGINX_ROOT") + "/" + name, std::ios::binary | std::ios::trunc) << body;
}

std::string ReadFile(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A message-only window that collects the wParam of every WM_SV_FEED.
class FeedWindow {
 public:
  FeedWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"FeedTestWindow";
    RegisterClassW(&wc);
    hwnd = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           wc.hInstance, nullptr);
  }
  ~FeedWindow() { DestroyWindow(hwnd); }

  // The next WM_SV_FEED's wParam, or -1 when none came within the time.
  int Next(DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
      MSG msg;
      while (PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE)) {
        if (msg.message == sv::WM_SV_FEED) return int(msg.wParam);
      }
      const DWORD waited = GetTickCount() - start;
      if (waited >= timeoutMs) return -1;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - waited, QS_ALLPOSTMESSAGE);
    }
  }

  HWND hwnd = nullptr;
};

double StopSeconds(sv::FeedClient& client, bool& endedOut) {
  const auto begin = std::chrono::steady_clock::now();
  endedOut = client.Stop();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

TEST(FeedClientNet, KeepsTheLastGoodFeedWhenTheServerStopsServingIt) {
  const std::wstring logPath = WinPath(Env("SV_NGINX_ROOT") + "/../feed-keep.log");
  sv::OpenLog(logPath);
  WriteServed("feed.xml",
              "<patcher_feed status='online' online='1234567'><item title='Yama'/></patcher_feed>");
  FeedWindow window;
  // The shortest interval there is: 15 s between the two fetches.
  sv::FeedClient client(sv::toWide(Env("SV_NGINX_URL")) + L"/feed.xml", 1, window.hwnd);
  ASSERT_TRUE(client.Start());
  EXPECT_FALSE(client.Start());  // one thread only
  ASSERT_EQ(window.Next(10000), 1);
  sv::FeedData feed = client.Snapshot();
  EXPECT_TRUE(feed.hasData);
  EXPECT_EQ(feed.players, 1234567);
  ASSERT_EQ(feed.items.size(), 1u);

  // The server no longer has the feed: the next fetch fails and the old feed stays.
  std::remove((Env("SV_NGINX_ROOT") + "/feed.xml").c_str());
  const auto before = std::chrono::steady_clock::now();
  ASSERT_EQ(window.Next(25000), 0);
  const double gap = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
  EXPECT_GT(gap, 13.0);  // the interval, not a retry loop
  feed = client.Snapshot();
  EXPECT_TRUE(feed.hasData);
  EXPECT_EQ(feed.status, L"online");
  EXPECT_EQ(feed.players, 1234567);

  bool ended = false;
  EXPECT_LT(StopSeconds(client, ended), 1.0);
  EXPECT_TRUE(ended);
  sv::CloseLog();
  const std::string log = ReadFile(logPath);
  // The first success logs nothing; the failure once, with the server's answer.
  EXPECT_EQ(log.find("Duyuru akisi yeniden"), std::string::npos) << log;
  const size_t failed = log.find("Duyuru akisi alinamadi: ");
  ASSERT_NE(failed, std::string::npos) << log;
  EXPECT_NE(log.find("404", failed), std::string::npos) << log;
}

TEST(FeedClientNet, AFirstFailureIsReportedAndLoggedOnce) {
  const std::wstring logPath = WinPath(Env("SV_NGINX_ROOT") + "/../feed-fail.log");
  sv::OpenLog(logPath);
  WriteServed("broken.xml", "<patcher_feed status='online'>");
  FeedWindow window;
  sv::FeedClient client(sv::toWide(Env("SV_NGINX_URL")) + L"/broken.xml", 60, window.hwnd);
  ASSERT_TRUE(client.Start());
  EXPECT_EQ(window.Next(10000), 0);
  EXPECT_FALSE(client.Snapshot().hasData);
  bool ended = false;
  EXPECT_LT(StopSeconds(client, ended), 1.0);
  EXPECT_TRUE(ended);
  sv::CloseLog();
  const std::string log = ReadFile(logPath);
  // The document arrived but did not parse: the line carries no HTTP error.
  EXPECT_NE(log.find("Duyuru akisi alinamadi: \r\n"), std::string::npos) << log;
}

// Stops a reader whose request hangs at `path` on the fault server: the thread must have ended
// (Stop() says so only when it saw the thread end), and quickly, not on Stop()'s own time-out.
void ExpectStopsWhileHanging(const std::wstring& path) {
  FeedWindow window;
  auto client = std::make_unique<sv::FeedClient>(sv::toWide(Env("SV_FAULT_URL")) + path, 60, window.hwnd);
  ASSERT_TRUE(client->Start());
  Sleep(700);  // the request is waiting for the server now
  bool ended = false;
  const double seconds = StopSeconds(*client, ended);
  ::testing::Test::RecordProperty("stop_ms", int(seconds * 1000));
  EXPECT_TRUE(ended) << "the feed thread was still running after Stop() (" << seconds << " s)";
  EXPECT_LT(seconds, 0.5);
  client.reset();
  EXPECT_EQ(window.Next(300), -1);  // a stopped reader posts nothing more
}

TEST(FeedClientNet, StopsWithinASecondEvenWhileARequestHangs) {
  // The server read the request and sends no headers.
  ExpectStopsWhileHanging(L"/stall/20");
}

TEST(FeedClientNet, StopsWhileTheBodyStalls) {
  // Headers and the first 64 KiB came; the rest does not.
  ExpectStopsWhileHanging(L"/stallbody/200000/20");
}

TEST(FeedClientNet, AReaderStoppedInTheMiddleCanBeStartedAgain) {
  // What a given-up request leaves behind (its record, until WinHTTP lets it go) does not stand
  // in the way of the next one.
  WriteServed("again.xml", "<patcher_feed status='online' online='42'></patcher_feed>");
  FeedWindow window;
  sv::FeedClient hanging(sv::toWide(Env("SV_FAULT_URL")) + L"/stall/20", 60, window.hwnd);
  ASSERT_TRUE(hanging.Start());
  Sleep(300);
  EXPECT_TRUE(hanging.Stop());
  sv::FeedClient client(sv::toWide(Env("SV_NGINX_URL")) + L"/again.xml", 60, window.hwnd);
  ASSERT_TRUE(client.Start());
  EXPECT_EQ(window.Next(10000), 1);
  EXPECT_EQ(client.Snapshot().players, 42);
  EXPECT_TRUE(client.Stop());
}

TEST(FeedClientNet, FeedOverItsSizeLimitIsRefused) {
  // A valid feed padded one byte past the limit: the fetch fails and no feed is shown, while the
  // same document just under the limit is taken.
  const std::string head = "<patcher_feed status='online' online='7'><!-- ";
  const std::string tail = " --></patcher_feed>";
  FeedWindow window;
  for (const size_t size : {sv::kFeedSizeLimit, sv::kFeedSizeLimit + 1}) {
    WriteServed("big_feed.xml", head + std::string(size - head.size() - tail.size(), 'x') + tail);
    sv::FeedClient client(sv::toWide(Env("SV_NGINX_URL")) + L"/big_feed.xml", 60, window.hwnd);
    ASSERT_TRUE(client.Start());
    const int fetched = window.Next(10000);
    EXPECT_EQ(fetched, size <= sv::kFeedSizeLimit ? 1 : 0) << size;
    EXPECT_EQ(client.Snapshot().hasData, size <= sv::kFeedSizeLimit) << size;
    bool ended = false;
    EXPECT_LT(StopSeconds(client, ended), 1.0);
    EXPECT_TRUE(ended);
  }
}

TEST(FeedClientNet, TheBandwidthLimitPacesTheFeedAndAStopEndsTheWait) {
  // A feed at its size limit (256 KiB) at 64 KiB/s: four seconds, less the piece the bucket holds.
  const std::string head = "<patcher_feed status='online' online='9'><!-- ";
  const std::string tail = " --></patcher_feed>";
  WriteServed("paced_feed.xml", head + std::string(sv::kFeedSizeLimit - head.size() - tail.size(), 'x') + tail);
  const std::wstring url = sv::toWide(Env("SV_NGINX_URL")) + L"/paced_feed.xml";
  sv::ProcessRateLimiter().SetRate(64 * sv::kRateLimitKiB, GetTickCount());
  FeedWindow window;
  sv::FeedClient client(url, 60, window.hwnd);
  const auto begin = std::chrono::steady_clock::now();
  ASSERT_TRUE(client.Start());
  EXPECT_EQ(window.Next(20000), 1);
  EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count(), 2.5);
  EXPECT_EQ(client.Snapshot().players, 9);
  bool ended = false;
  EXPECT_LT(StopSeconds(client, ended), 1.0);

  sv::FeedClient paced(url, 60, window.hwnd);
  ASSERT_TRUE(paced.Start());
  Sleep(1000);  // inside the paced body
  EXPECT_LT(StopSeconds(paced, ended), 1.0);
  EXPECT_TRUE(ended);
  EXPECT_EQ(window.Next(300), -1);
  sv::ProcessRateLimiter().SetRate(0, GetTickCount());
}

}  // namespace
