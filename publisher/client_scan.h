#pragma once
// The files of a game client folder that go into a release, with the checks that keep a release
// installable: every path must pass the patcher's own path rules unchanged, no two paths may
// differ only in case, and every file must fit the ".lz" format.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

struct ClientFile {
  std::string path;                  // UTF-8 with '/', as the file list writes it
  std::filesystem::path source;
  uint64_t size = 0;
  int64_t modified = 0;              // file time in the file system's own ticks
};

struct ClientScan {
  std::vector<ClientFile> files;     // sorted by path
  std::vector<std::string> problems; // one message per file that cannot be published
};

// `skip` (the output folder, when it lies inside the client) is left out, as are paths that an
// --exclude pattern matches.
ClientScan ScanClient(const std::filesystem::path& root, const std::vector<std::string>& excludes,
                      const std::filesystem::path& skip);

// Empty when the patcher installs `path` under exactly this name; else the reason it would not.
std::string CheckReleasePath(std::string_view path);

}  // namespace sv
