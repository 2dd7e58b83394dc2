#include "patcher/app/web_view_links.h"

#include "common/text.h"

namespace sv {

bool IsWebLink(std::wstring_view url) {
  return (url.size() >= 7 && equalsNoCase(url.substr(0, 7), L"http://")) ||
         (url.size() >= 8 && equalsNoCase(url.substr(0, 8), L"https://"));
}

}  // namespace sv
