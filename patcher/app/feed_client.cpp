#include "patcher/app/feed_client.h"

namespace sv {

std::optional<std::wstring> FeedChangeLogLine(bool previousOk, bool ok, const std::wstring& httpError) {
  if (ok == previousOk) return std::nullopt;
  if (ok) return std::wstring(L"Duyuru akisi yeniden alindi.");
  return L"Duyuru akisi alinamadi: " + httpError;
}

}  // namespace sv
