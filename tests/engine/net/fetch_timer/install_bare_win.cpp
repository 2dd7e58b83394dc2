// The plainest install, the ceiling the updater's own install is measured against:
//
//   install_bare CONNECTIONS RUNS DIR URL...
//
// Each run installs every URL once on CONNECTIONS threads. A thread takes the next URL (number n),
// downloads it whole with a plain WinHTTP loop (reused 64 KiB buffer, kept connection handle) into
// DIR\<n>.lz with plain WriteFile calls, decodes that with the project's LZ decoder into
// DIR\<n>.new, flushes and closes it, moves it over DIR\<n> and deletes the .lz: the same disk
// work as the updater, without ranges, checks or progress. Prints one line "<seconds> <bytes>"
// per run (bytes downloaded), measured around the installs alone.
#include <windows.h>
#include <winhttp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "release/lz_decode.h"
#include "release/lz_stream.h"

namespace {

struct Target {
  std::wstring host, path;
  INTERNET_PORT port = 0;
};

bool Crack(const std::wstring& url, Target& out) {
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof(components);
  components.dwHostNameLength = DWORD(-1);
  components.dwUrlPathLength = DWORD(-1);
  components.dwExtraInfoLength = DWORD(-1);
  if (!WinHttpCrackUrl(url.c_str(), 0, 0, &components)) return false;
  out.host.assign(components.lpszHostName, components.dwHostNameLength);
  out.path.assign(components.lpszUrlPath, components.dwUrlPathLength);
  if (components.lpszExtraInfo) {
    out.path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
  }
  out.port = components.nPort;
  return true;
}

// Bytes written to `file`, or -1 when a call failed.
long long Fetch(HINTERNET connection, const Target& t, HANDLE file,
                std::vector<unsigned char>& buffer) {
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
      DWORD written = 0;
      if (!WriteFile(file, buffer.data(), got, &written, nullptr) || written != got) {
        total = -1;
        break;
      }
    }
  }
  if (request) WinHttpCloseHandle(request);
  return total;
}

// Download, decode, flush, move into place; bytes downloaded, or -1 on a failure.
long long Install(HINTERNET connection, const Target& t, const std::wstring& base,
                  std::vector<unsigned char>& buffer) {
  const std::wstring lz = base + L".lz", fresh = base + L".new";
  HANDLE file = CreateFileW(lz.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  const long long got = Fetch(connection, t, file, buffer);
  if (!CloseHandle(file) || got < 0) return -1;

  sv::FileReader reader;
  sv::FileWriter writer;
  if (!reader.OpenRead(lz) || !writer.OpenWrite(fresh)) return -1;
  const sv::LzResult decoded = sv::LzDecode(reader, &writer, nullptr, nullptr);
  reader.Close();
  if (!decoded.ok || !writer.Flush() || !writer.Close()) return -1;
  if (!MoveFileExW(fresh.c_str(), base.c_str(), MOVEFILE_REPLACE_EXISTING)) return -1;
  if (!DeleteFileW(lz.c_str())) return -1;
  return got;
}

std::wstring Widen(const char* text) {
  const std::string narrow = text;
  return std::wstring(narrow.begin(), narrow.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: install_bare CONNECTIONS RUNS DIR URL...\n");
    return 2;
  }
  const int connections = std::atoi(argv[1]);
  const int runs = std::atoi(argv[2]);
  const std::wstring dir = Widen(argv[3]);
  std::vector<Target> targets;
  for (int i = 4; i < argc; ++i) {
    Target t;
    if (!Crack(Widen(argv[i]), t)) {
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
          const std::wstring base = dir + L"\\" + std::to_wstring(i);
          const long long got = connection ? Install(connection, targets[i], base, buffer) : -1;
          if (got < 0) {
            if (!failed.exchange(true)) {
              std::fprintf(stderr, "install of %ls failed: %lu\n", base.c_str(), GetLastError());
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
