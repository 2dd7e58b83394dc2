#pragma once
// Whole documents (configuration, file lists, the patcher itself) are fetched with a few
// attempts, because one dropped connection must not end an update run.
#include <cstddef>
#include <string>

#include "http/http_client.h"

namespace sv {

constexpr int kFetchAttempts = 3;

// `url` with a "t=" query of the tick count: a cache on the way cannot answer with an old copy of
// a document that changes in place (the configuration, the lists, the signed manifest).
std::wstring FreshUrl(const std::wstring& url);
// A list of a download source: as it is when its version folder is immutable (a cache may answer,
// the bytes cannot be old), else FreshUrl.
std::wstring SourceListUrl(const std::wstring& url, bool immutable);
// `url` with an "r=" query of the tick count: a second attempt after a bad body, so that a
// damaged copy a cache on the way holds is not handed back again.
std::wstring PastCacheUrl(const std::wstring& url);

// Up to three FetchToMemory attempts, 1 s and 2 s apart (the waits watch `cancel` every 50 ms).
// A 404 or 403 ends at once. Each failure is logged; errorOut gets the last attempt's text, or
// "İptal edildi" when cancelled. resultOut (optional) receives the last attempt's result.
bool FetchWithRetries(const HttpClient& client, const std::wstring& url, size_t limit,
                      std::string& bodyOut, const CancelFlag* cancel, std::wstring& errorOut,
                      HttpResult* resultOut = nullptr);

}  // namespace sv
