// The plainest WinHTTP download loop, the ceiling the patcher's own client is measured against:
//
//   winhttp_bare CONNECTIONS RUNS URL...
//
// Each run fetches every URL once, whole, on CONNECTIONS threads (each takes the next URL, keeps
// its connection handle and reads into one reused 64 KiB buffer: no ranges, no checks, nothing
// kept). Prints one line "<seconds> <bytes>" per run, measured around the fetches alone.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Target {
  std::wstring host, path;
  INTERNET_PORT port = 0;
};

bool Crack(const std::wstring& url, Target& out) {
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

// Bytes read, or -1 when a call failed.
long long Fetch(HINTERNET connection, const Target& t, std::vector<unsigned char>& buffer) {
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
    }
  }
  if (request) WinHttpCloseHandle(request);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: winhttp_bare CONNECTIONS RUNS URL...\n");
    return 2;
  }
  const int connections = std::atoi(argv[1]);
  const int runs = std::atoi(argv[2]);
  std::vector<Target> targets;
  for (int i = 3; i < argc; ++i) {
    std::string narrow = argv[i];
    Target t;
    if (!Crack(std::wstring(narrow.begin(), narrow.end()), t)) {
      std::fprintf(stderr, "bad URL %s\n", argv[i]);
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
          const long long got = connection ? Fetch(connection, targets[i], buffer) : -1;
          if (got < 0) failed = true;
          else bytes += got;
        }
        if (connection) WinHttpCloseHandle(connection);
      });
    }
    for (std::thread& t : threads) t.join();
    QueryPerformanceCounter(&end);
    if (failed) {
      std::fprintf(stderr, "a fetch failed: %lu\n", GetLastError());
      return 1;
    }
    std::printf("%.6f %lld\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                bytes.load());
  }
  WinHttpCloseHandle(session);
  return 0;
}
