// The local notice file remembers which notice version the player accepted.
#include <string>

#include "common/file.h"
#include "common/path.h"
#include "common/text.h"
#include "common/xml.h"
#include "patcher/engine/remote_config.h"

namespace sv {

namespace {
constexpr uint64_t kNoticeFileLimit = 1048576;
}

std::wstring LocalNoticePath(const std::wstring& gameFolder, const std::wstring& localConfigPath) {
  // The name comes from the skin; it must not point outside the game folder.
  std::wstring relative;
  if (localConfigPath.empty() || !makeSafeRelativePath(toUtf8(localConfigPath), relative))
    relative = kDefaultLocalConfigName;
  return joinPath(gameFolder, relative);
}

int32_t LocalNoticeVersion(const std::wstring& gameFolder, const std::wstring& localConfigPath) {
  std::string bytes;
  if (!readWholeFile(LocalNoticePath(gameFolder, localConfigPath), kNoticeFileLimit, bytes))
    return 0;
  XmlDocument doc;
  if (!doc.parse(decodeTextToUtf8(bytes))) return 0;
  return doc.attributeInt("notice_ver", 0);
}

void SaveNoticeVersion(const std::wstring& gameFolder, const std::wstring& localConfigPath,
                       int32_t version) {
  const std::string text = "<torrent_config notice_ver='" + std::to_string(version) + "'/>";
  writeFileAtomic(LocalNoticePath(gameFolder, localConfigPath), text.data(), text.size());
}

}  // namespace sv
