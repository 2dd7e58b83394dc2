// Times the platform's SHA-256 over whole files, for the signed-release benchmark (what hashing
// alone costs where the patcher runs): sha256_timer FILE... prints "SECONDS <s> BYTES <n>".
#include <windows.h>

#include <cstdio>

#include "release/sha256.h"

int wmain(int argc, wchar_t** argv) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  unsigned long long total = 0;
  for (int i = 1; i < argc; ++i) {
    sv::Sha256Digest digest{};
    uint64_t size = 0;
    if (!sv::Sha256OfFile(argv[i], digest, size)) {
      std::fwprintf(stderr, L"cannot read %ls\n", argv[i]);
      return 1;
    }
    total += size;
  }
  QueryPerformanceCounter(&end);
  const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
  std::printf("SECONDS %.4f BYTES %.0f\n", seconds, double(total));
  return 0;
}
