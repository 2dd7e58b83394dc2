#include "publisher/release_files.h"

#include "common/text.h"
#include "common/xml.h"
#include "common/crc32.h"

namespace sv {

std::string FormatFileList(const std::vector<ListedFile>& files) {
  std::string text;
  for (const ListedFile& f : files) {
    text += FormatCrc32(f.crc) + ' ' + std::to_string(f.size) + ' ';
    if (f.hasObject) {
      text += DigestHex(f.object.digest) + ' ' + std::to_string(f.object.size) + ' ';
    } else if (f.path.find(' ') != std::string::npos) {
      text += "- - ";
    }
    text += f.path + '\n';
  }
  return text;
}

std::string MakeConfigSkeleton(const std::string& baseUrl, const std::string& runPath) {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
         "<!-- Written by SarvikPublish. run_path: the game program, relative to the game folder.\n"
         "     For a notice add notice_ver and notice_url; for patcher updates sv_patcher_url and\n"
         "     sv_patcher_crc32 (the builder shows the CRC); to throttle every player\n"
         "     sv_max_kbps (KB/s, lowers the patcher's own limit). -->\n"
         "<torrent_config run_path=\"" +
         escapeAttribute(runPath) +
         "\">\n"
         "  <foreground_patch crcpatch_url=\"" +
         escapeAttribute(baseUrl) +
         "\" crcversion=\"\"/>\n"
         "</torrent_config>\n";
}

std::string GuessRunPath(const std::vector<ClientFile>& files) {
  std::string found;
  for (const ClientFile& f : files) {
    std::string lower = toLowerAscii(f.path);
    if (f.path.find('/') != std::string::npos || lower.size() < 5 ||
        lower.compare(lower.size() - 4, 4, ".exe") != 0 || lower == "config.exe" ||
        lower.rfind("sarvik", 0) == 0) {
      continue;
    }
    if (!found.empty()) return {};
    found = f.path;
  }
  return found;
}

}  // namespace sv
