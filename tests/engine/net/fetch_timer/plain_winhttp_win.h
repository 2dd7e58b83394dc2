#pragma once
// What the plain yardstick programs (winhttp_bare, install_bare) share: the simplest WinHTTP
// download loop, and the timed runs that fetch every URL once on CONNECTIONS threads (each takes
// the next URL and keeps its connection handle). Nothing here retries, checks or reports
// progress: these programs are the ceiling the updater is measured against.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace plain {

struct Target {
  std::wstring host, path;
  INTERNET_PORT port = 0;
};

inline std::wstring Widen(const char* text) {
  const std::string narrow = text;
  return std::wstring(narrow.begin(), narrow.end());
}

inline bool Crack(const std::wstring& url, Target& out) {
  URL_COMPONENTS parts = {};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = DWORD(-1);
  parts.dwUrlPathLength = DWORD(-1);
  parts.dwExtraInfoLength = DWORD(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) return false;
  out.host.assign(parts.lpszHostName, parts.dwHostNameLength);
  out.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
  if (parts.lpszExtraInfo) out.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  out.port = parts.nPort;
  return true;
}

// Bytes read, or -1 when a call (or `sink`, given each piece when set) failed.
using Sink = std::function<bool(const unsigned char* data, DWORD size)>;
inline long long Fetch(HINTERNET connection, const Target& t, std::vector<unsigned char>& buffer,
                       const Sink& sink = nullptr) {
  HINTERNET request = WinHttpOpenRequest(connection, L"GET", t.path.c_str(), nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
  long long total = -1;
  if (request && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                    WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
      WinHttpReceiveResponse(request, nullptr)) {
    total = 0;
    for (DWORD got = 0;; total += got) {
      if (!WinHttpReadData(request, buffer.data(), DWORD(buffer.size()), &got)) {
        total = -1;
        break;
      }
      if (got == 0) break;
      if (sink && !sink(buffer.data(), got)) {
        total = -1;
        break;
      }
    }
  }
  if (request) WinHttpCloseHandle(request);
  return total;
}

// work(connection, target, its number, a reused 64 KiB buffer): bytes, or -1 on a failure.
using Work = std::function<long long(HINTERNET, const Target&, size_t, std::vector<unsigned char>&)>;

// Runs `runs` rounds over `urls` and prints "<seconds> <bytes>" per round, measured around the
// work alone. The exit code for main: 0, 1 when something failed, 2 for a bad URL.
inline int TimedRuns(int connections, int runs, char** urls, int urlCount, const Work& work) {
  std::vector<Target> targets;
  for (int i = 0; i < urlCount; ++i) {
    Target t;
    if (!Crack(Widen(urls[i]), t)) {
      std::fprintf(stderr, "bad URL %s\n", urls[i]);
      return 2;
    }
    targets.push_back(t);
  }
  HINTERNET session = WinHttpOpen(L"bare/1.0", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return 1;
  DWORD conns = DWORD(connections);
  WinHttpSetOption(session, WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &conns, sizeof(conns));
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  for (int run = 0; run < runs; ++run) {
    std::atomic<size_t> next{0};
    std::atomic<long long> bytes{0};
    std::atomic<bool> failed{false};
    QueryPerformanceCounter(&start);
    std::vector<std::thread> threads;
    for (int c = 0; c < connections; ++c) {
      threads.emplace_back([&] {
        std::vector<unsigned char> buffer(65536);
        HINTERNET connection = nullptr;
        for (size_t i; (i = next.fetch_add(1)) < targets.size();) {
          if (!connection) {
            connection = WinHttpConnect(session, targets[i].host.c_str(), targets[i].port, 0);
          }
          const long long got = connection ? work(connection, targets[i], i, buffer) : -1;
          if (got < 0) {
            if (!failed.exchange(true)) {
              std::fprintf(stderr, "URL %zu failed: %lu\n", i, GetLastError());
            }
          } else {
            bytes += got;
          }
        }
        if (connection) WinHttpCloseHandle(connection);
      });
    }
    for (std::thread& t : threads) t.join();
    QueryPerformanceCounter(&end);
    if (failed) return 1;
    std::printf("%.6f %lld\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                bytes.load());
  }
  WinHttpCloseHandle(session);
  return 0;
}

}  // namespace plain
