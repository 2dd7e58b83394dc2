// The Windows build fetches with the patcher's own HTTP client, so a verified release has been
// read the way the patcher reads it.
#include "common/text.h"
#include "http/http_client.h"
#include "release/lz_stream.h"
#include "publisher/path_convert.h"
#include "publisher/url_fetch.h"

namespace sv {

namespace {

// One session for the whole run, as the patcher keeps one.
const HttpClient* Client(std::string& error) {
  static HttpClient client;
  static const bool open = client.Open(L"SarvikPublish");
  if (!open) error = "cannot start WinHTTP";
  return open ? &client : nullptr;
}

bool ToFile(void* context, const void* data, uint32_t size) {
  return static_cast<FileWriter*>(context)->Write(data, size);
}

UrlFetchResult FromHttp(bool ok, const HttpResult& http) {
  UrlFetchResult r;
  r.ok = ok;
  r.status = long(http.status);
  if (!ok) r.error = toUtf8(http.error_text);
  return r;
}

}  // namespace

UrlFetchResult FetchUrlToMemory(const std::string& url, size_t limit, std::string& bodyOut) {
  UrlFetchResult r;
  const HttpClient* client = Client(r.error);
  if (!client) return r;
  HttpResult http;
  bool ok = client->FetchToMemory(toWide(url), bodyOut, http, nullptr, limit);
  return FromHttp(ok, http);
}

UrlFetchResult FetchUrlToFile(const std::string& url, const std::filesystem::path& target) {
  UrlFetchResult r;
  const HttpClient* client = Client(r.error);
  if (!client) return r;
  FileWriter file;
  if (!file.OpenWrite(WideFromPath(target))) {
    r.error = "cannot create a temporary file";
    return r;
  }
  HttpResult http;
  bool ok = client->Get(toWide(url), -1, -1, http, ToFile, &file, nullptr);
  bool closed = file.Close();
  r = FromHttp(ok, http);
  if (ok && !closed) {
    r.ok = false;
    r.error = "cannot write a temporary file";
  }
  return r;
}

}  // namespace sv
