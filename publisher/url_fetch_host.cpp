// libcurl behind the release tool's HTTP GET on the host build.
#include <curl/curl.h>

#include <cstdio>
#include <fstream>
#include <memory>

#include "publisher/url_fetch.h"

namespace sv {

namespace {

struct CurlDeleter {
  void operator()(CURL* c) const { curl_easy_cleanup(c); }
};

struct MemorySink {
  std::string* body;
  size_t limit;
  bool overflow = false;
};

size_t ToMemory(char* data, size_t size, size_t count, void* context) {
  auto* sink = static_cast<MemorySink*>(context);
  size_t n = size * count;
  if (n > sink->limit - sink->body->size()) {
    sink->overflow = true;
    return 0;  // stops the transfer
  }
  sink->body->append(data, n);
  return n;
}

size_t ToFile(char* data, size_t size, size_t count, void* context) {
  auto* file = static_cast<std::ofstream*>(context);
  file->write(data, std::streamsize(size * count));
  return *file ? size * count : 0;
}

UrlFetchResult Perform(const std::string& url, curl_write_callback write, void* context) {
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == 0;
  UrlFetchResult r;
  std::unique_ptr<CURL, CurlDeleter> curl(initialised ? curl_easy_init() : nullptr);
  if (!curl) {
    r.error = "cannot start libcurl";
    return r;
  }
  char message[CURL_ERROR_SIZE] = "";
  curl_easy_setopt(curl.get(), CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl.get(), CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_CONNECTTIMEOUT, 15L);
  // A stalled server fails after 30 s without data instead of hanging the check.
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(curl.get(), CURLOPT_LOW_SPEED_TIME, 30L);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEFUNCTION, write);
  curl_easy_setopt(curl.get(), CURLOPT_WRITEDATA, context);
  curl_easy_setopt(curl.get(), CURLOPT_ERRORBUFFER, message);
  curl_easy_setopt(curl.get(), CURLOPT_USERAGENT, "SarvikPublish");
  CURLcode code = curl_easy_perform(curl.get());
  curl_easy_getinfo(curl.get(), CURLINFO_RESPONSE_CODE, &r.status);
  if (code != CURLE_OK) {
    r.error = message[0] ? message : curl_easy_strerror(code);
  } else if (r.status != 200) {
    r.error = "HTTP status " + std::to_string(r.status);
  } else {
    r.ok = true;
  }
  return r;
}

}  // namespace

UrlFetchResult FetchUrlToMemory(const std::string& url, size_t limit, std::string& bodyOut) {
  bodyOut.clear();
  MemorySink sink{&bodyOut, limit};
  UrlFetchResult r = Perform(url, ToMemory, &sink);
  if (sink.overflow) {
    r.ok = false;
    r.error = "larger than " + std::to_string(limit) + " bytes";
  }
  return r;
}

UrlFetchResult FetchUrlToFile(const std::string& url, const std::filesystem::path& target) {
  std::ofstream file(target, std::ios::binary | std::ios::trunc);
  if (!file) {
    UrlFetchResult r;
    r.error = "cannot create a temporary file";
    return r;
  }
  UrlFetchResult r = Perform(url, ToFile, &file);
  file.close();
  if (r.ok && !file) {
    r.ok = false;
    r.error = "cannot write a temporary file";
  }
  return r;
}

}  // namespace sv
