#include "builder/live_check.h"

#include "common/text.h"
#include "patcher/engine/fetch_retries.h"
#include "release/file_list.h"
#include "http/http_client.h"
#include "patcher/engine/remote_config.h"
#include "release/url.h"
#include "skin/locale_table.h"

namespace sv {

LiveCheck CheckLiveRelease(const std::wstring& configUrl) {
  LiveCheck check;
  auto problem = [&check](std::wstring line) {
    ++check.problems;
    check.lines.push_back(L"SORUN: " + std::move(line));
  };
  HttpClient http;
  if (!http.Open(L"Sarvik/1.0")) {
    problem(L"HTTP istemcisi açılamadı.");
    return check;
  }
  std::string bytes;
  std::wstring error;
  if (!FetchWithRetries(http, FreshUrl(configUrl), kRemoteConfigLimit, bytes, nullptr, error)) {
    problem(L"Yapılandırma alınamadı: " + configUrl + L" — " + error);
    return check;
  }
  const LocaleTable locale;
  RemoteConfig config;
  if (!ParseRemoteConfig(bytes, configUrl, locale.text("SV_NO_DOWNLOAD_URL"), config, error)) {
    problem(L"Yapılandırma geçersiz: " + error);
    return check;
  }
  check.lines.push_back(L"Yapılandırma: " + std::to_wstring(config.sources.size()) + L" kaynak, run_path=" +
                        config.runPath);
  if (config.runPath.empty())
    problem(L"run_path boş: oyuncunun BAŞLAT düğmesi hiçbir programı başlatamaz.");
  for (size_t i = 0; i < config.sources.size(); ++i) {
    const std::wstring listUrl = joinUrl(config.sources[i], L"crclist");
    HttpResult answer;
    if (!FetchWithRetries(http, FreshUrl(listUrl), kFileListMaxBytes, bytes, nullptr, error, &answer)) {
      problem((answer.status == 404 ? locale.text("SV_LIST_MISSING") : locale.text("INVALID_CRC_TABLE")) + L": " +
              listUrl + L" — " + error);
      continue;
    }
    std::vector<FileEntry> entries;
    if (!ParseFileList(bytes, entries, error)) {
      problem(L"crclist okunamadı: " + listUrl + L" — " + error);
      continue;
    }
    uint64_t total = 0;
    for (const FileEntry& entry : entries) total += entry.size;
    check.lines.push_back(L"Kaynak " + std::to_wstring(i + 1) + L": " + listUrl + L" — " +
                          std::to_wstring(entries.size()) + L" dosya, " + formatSize(total));
  }
  return check;
}

}  // namespace sv
