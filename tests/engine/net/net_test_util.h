#pragma once
// Helpers of the network tests: the servers' addresses and logs, body collection, the fixture.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/clock_os.h"
#include "common/text.h"
#include "http/http_client.h"

namespace sv {

// The name this build opens a file of the servers by: they write Unix paths, which Wine shows
// under drive Z:.
std::string LocalName(const std::string& unixPath);
// A loopback port that was free a moment ago (nothing listens on it).
int FreeLoopbackPort();

using Clock = std::chrono::steady_clock;

constexpr uint64_t kDataSize = 1000000;  // data.bin, served by nginx (see CMakeLists.txt)

inline std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

inline std::string ReadUnixFile(const std::string& unixPath) {
  std::ifstream in(LocalName(unixPath), std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline size_t CountLines(const std::string& text, const std::string& needle) {
  size_t n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (line.find(needle) != std::string::npos) ++n;
  return n;
}

// A server writes its log line after the response has gone out, so the client can be quicker
// than the log: wait (bounded) until the last expected line is there.
inline std::string ReadLogOnce(const std::string& unixPath, const std::string& lastNeedle) {
  std::string text = ReadUnixFile(unixPath);
  for (int i = 0; i < 60 && text.find(lastNeedle) == std::string::npos; ++i) {
    os::sleepMs(50);
    text = ReadUnixFile(unixPath);
  }
  return text;
}

// The servers' test body: byte i is i mod 251.
inline bool IsPattern(const std::string& bytes, uint64_t offset) {
  for (size_t i = 0; i < bytes.size(); ++i)
    if (static_cast<unsigned char>(bytes[i]) != (offset + i) % 251) return false;
  return true;
}

struct Collected {
  std::string bytes;
  std::vector<uint32_t> pieces;
};

inline bool Collect(void* context, const void* data, uint32_t size) {
  auto& c = *static_cast<Collected*>(context);
  c.bytes.append(static_cast<const char*>(data), size);
  c.pieces.push_back(size);
  return true;
}

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class Net : public ::testing::Test {
 protected:
  void SetUp() override {
    nginx = toWide(Env("SV_NGINX_URL"));
    fault = toWide(Env("SV_FAULT_URL"));
    ASSERT_FALSE(nginx.empty()) << "run through tests/support/with_servers.py";
    ASSERT_FALSE(fault.empty());
    ASSERT_TRUE(client.Open(L"Sarvik/1.0"));
  }

  // A query no other request of this run carries, so log lines can be counted per test.
  static std::wstring Unique(const std::wstring& url) {
    static int counter = 0;
    return url + L"?id=" + std::to_wstring(++counter) + L"-" + std::to_wstring(os::tickCount());
  }
  static std::string Narrow(const std::wstring& url) { return toUtf8(url); }
  static std::string PathOf(const std::wstring& url) {
    const std::string u = Narrow(url);
    return u.substr(u.find('/', u.find("//") + 2));
  }

  HttpClient client;
  HttpResult result;
  std::wstring nginx, fault;
};

}  // namespace sv
