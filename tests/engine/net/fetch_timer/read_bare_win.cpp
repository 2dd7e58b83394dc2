// The plainest read of many files, the ceiling the patcher's first check (every file read, no
// cache) is measured against under Wine:
//
//   read_bare THREADS ROOT LIST
//
// LIST holds one path relative to ROOT per line (UTF-8, '/' or '\'). THREADS threads each take the
// next path: open, read it whole into one reused 256 KiB buffer, close; nothing is computed or
// kept. Prints "<seconds> <bytes>", measured around the reads alone.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

std::wstring Wide(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &out[0],
                                    int(out.size()));
  out.resize(n > 0 ? size_t(n) : 0);
  return out;
}

std::vector<std::wstring> ReadList(const char* root, const char* listPath) {
  std::vector<std::wstring> paths;
  FILE* f = std::fopen(listPath, "rb");
  if (!f) return paths;
  const std::wstring base = Wide(root) + L"\\";
  char line[4096];
  while (std::fgets(line, sizeof line, f)) {
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (text.empty()) continue;
    std::wstring path = base + Wide(text);
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    paths.push_back(path);
  }
  std::fclose(f);
  return paths;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: read_bare THREADS ROOT LIST\n");
    return 2;
  }
  const int threads = std::atoi(argv[1]);
  const std::vector<std::wstring> paths = ReadList(argv[2], argv[3]);
  if (threads < 1 || paths.empty()) return 2;
  std::atomic<size_t> next{0};
  std::atomic<unsigned long long> bytes{0};
  std::atomic<int> failures{0};
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  std::vector<std::thread> pool;
  for (int t = 0; t < threads; ++t) {
    pool.emplace_back([&] {
      std::vector<char> buffer(262144);
      for (size_t i; (i = next.fetch_add(1)) < paths.size();) {
        HANDLE file = CreateFileW(paths[i].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
          ++failures;
          continue;
        }
        DWORD got = 0;
        while (ReadFile(file, buffer.data(), DWORD(buffer.size()), &got, nullptr) && got > 0) {
          bytes += got;
        }
        CloseHandle(file);
      }
    });
  }
  for (std::thread& t : pool) t.join();
  QueryPerformanceCounter(&end);
  if (failures.load() != 0) {
    std::fprintf(stderr, "read_bare: %d files could not be opened\n", failures.load());
    return 1;
  }
  std::printf("%.3f %llu\n", double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart),
              bytes.load());
  return 0;
}
