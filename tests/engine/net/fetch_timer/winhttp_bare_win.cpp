// The plainest WinHTTP download loop, the ceiling the patcher's own client is measured against:
//
//   winhttp_bare CONNECTIONS RUNS URL...
//
// Each run fetches every URL once, whole, on CONNECTIONS threads, reading into one reused 64 KiB
// buffer: no ranges, no checks, nothing kept. Prints one line "<seconds> <bytes>" per run.
#include <cstdlib>

#include "plain_winhttp_win.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: winhttp_bare CONNECTIONS RUNS URL...\n");
    return 2;
  }
  return plain::TimedRuns(std::atoi(argv[1]), std::atoi(argv[2]), argv + 3, argc - 3,
                          [](HINTERNET connection, const plain::Target& t, size_t,
                             std::vector<unsigned char>& buffer) {
                            return plain::Fetch(connection, t, buffer);
                          });
}
