// The plainest install, the ceiling the updater's own install is measured against:
//
//   install_bare CONNECTIONS RUNS DIR URL...
//
// Each run installs every URL once on CONNECTIONS threads. A thread takes the next URL (number n),
// downloads it whole into DIR\<n>.lz with plain WriteFile calls, decodes that with the project's
// LZ decoder into DIR\<n>.new, flushes and closes it, moves it over DIR\<n> and deletes the .lz:
// the same disk work as the updater, without ranges, checks or progress. Prints one line
// "<seconds> <bytes>" per run (bytes downloaded), measured around the installs alone.
#include <cstdlib>

#include "release/lz_decode.h"
#include "release/lz_stream.h"
#include "plain_winhttp_win.h"

namespace {

// Download, decode, flush, move into place; bytes downloaded, or -1 on a failure.
long long Install(HINTERNET connection, const plain::Target& t, const std::wstring& base,
                  std::vector<unsigned char>& buffer) {
  const std::wstring lz = base + L".lz", fresh = base + L".new";
  HANDLE file = CreateFileW(lz.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return -1;
  const long long got = plain::Fetch(connection, t, buffer, [file](const unsigned char* data,
                                                                   DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
  });
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: install_bare CONNECTIONS RUNS DIR URL...\n");
    return 2;
  }
  const std::wstring dir = plain::Widen(argv[3]);
  return plain::TimedRuns(std::atoi(argv[1]), std::atoi(argv[2]), argv + 4, argc - 4,
                          [&dir](HINTERNET connection, const plain::Target& t, size_t n,
                                 std::vector<unsigned char>& buffer) {
                            return Install(connection, t, dir + L"\\" + std::to_wstring(n), buffer);
                          });
}
