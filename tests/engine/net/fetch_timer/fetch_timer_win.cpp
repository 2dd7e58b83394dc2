// Times FetchToMemory for the fetch benchmark: fetch_timer URL LIMIT RUNS prints one line
// "<seconds> <bytes>" per run, measured around the fetch alone (not the process start).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/text.h"
#include "http/http_client.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: fetch_timer URL LIMIT RUNS\n");
    return 2;
  }
  const std::wstring url = sv::toWide(argv[1]);
  const size_t limit = std::strtoul(argv[2], nullptr, 10);
  const int runs = std::atoi(argv[3]);
  sv::HttpClient client;
  if (!client.Open(L"Sarvik/1.0")) return 1;
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  std::string body;
  for (int i = 0; i < runs; ++i) {
    sv::HttpResult result;
    QueryPerformanceCounter(&start);
    const bool ok = client.FetchToMemory(url, body, result, nullptr, limit);
    QueryPerformanceCounter(&end);
    if (!ok) {
      std::fprintf(stderr, "fetch failed: %s\n", sv::toUtf8(result.error_text).c_str());
      return 1;
    }
    std::printf("%.6f %zu\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
                body.size());
  }
  return 0;
}
