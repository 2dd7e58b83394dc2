#pragma once
// The files of a game client folder that go into a release, with the checks that keep a release
// installable: every path must pass the patcher's own path rules unchanged, no two paths (nor a
// file and a folder) may differ only in case, every file must fit the ".lz" format, and no link
// may lead out of the client.
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
  std::vector<std::string> skipped;  // "path: why" for every entry left out without an --exclude
};

// Paths that an --exclude pattern matches are left out, and so are the patcher's own files in a
// client copied from an installed game (its "temp" folder, "Sarvik.wtest" and the local notice
// file). A link is published as the file it points to when that lies inside the client; any
// other link is a problem. `skip` (the output folder, when it lies inside the client and is
// excluded) is never entered.
ClientScan ScanClient(const std::filesystem::path& root, const std::vector<std::string>& excludes,
                      const std::filesystem::path& skip);

// Empty when the patcher installs `path` under exactly this name; else the reason it would not.
std::string CheckReleasePath(std::string_view path);

}  // namespace sv
