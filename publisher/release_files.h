#pragma once
// The text files of a release besides the ".lz" files: the file list and a skeleton of the
// remote configuration.
#include <string>
#include <vector>

#include "publisher/client_scan.h"
#include "release/release_manifest.h"

namespace sv {

constexpr char kFileListName[] = "crclist";
constexpr char kConfigName[] = "draskeltorrent.config.xml";

struct ListedFile {
  std::string path;  // UTF-8 with '/'
  uint32_t crc = 0;
  uint64_t size = 0;
  bool hasObject = false;  // a signed release lists each ".lz" by SHA-256 and size
  ReleaseObject object;
};

// One line per file: eight hex digits of CRC, size, path; a path with spaces goes behind two
// placeholder fields, the form in which the patcher reads the rest of the line as the path. In a
// signed release those two fields hold the ".lz" object's SHA-256 and size on every line.
std::string FormatFileList(const std::vector<ListedFile>& files);

// A configuration with one download source at `baseUrl` and the game program `runPath` (may be
// empty), ready for the operator to complete.
std::string MakeConfigSkeleton(const std::string& baseUrl, const std::string& runPath);
// The game program when the client's top folder holds exactly one, leaving out the game's
// options program and the patcher itself.
std::string GuessRunPath(const std::vector<ClientFile>& files);

}  // namespace sv
