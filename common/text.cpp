#include "common/text.h"

namespace sv {

namespace {
template <typename S, typename C>
S trimImpl(std::basic_string_view<C> t) {
  auto isSpace = [](C c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t b = 0, e = t.size();
  while (b < e && isSpace(t[b])) ++b;
  while (e > b && isSpace(t[e - 1])) --e;
  return S(t.substr(b, e - b));
}
}  // namespace

std::string trim(std::string_view text) { return trimImpl<std::string>(text); }
std::wstring trim(std::wstring_view text) { return trimImpl<std::wstring>(text); }

}  // namespace sv
