#include "publisher/name_fold.h"

#include <algorithm>
#include <iterator>

#include "common/text.h"

namespace sv {

namespace {

struct FoldPair {
  char32_t from, to;
};

constexpr FoldPair kFolds[] = {
#include "publisher/case_fold_table.inc"
};

char32_t Fold(char32_t c) {
  auto it = std::lower_bound(std::begin(kFolds), std::end(kFolds), c,
                             [](const FoldPair& p, char32_t v) { return p.from < v; });
  return it != std::end(kFolds) && it->from == c ? it->to : c;
}

}  // namespace

std::wstring FoldName(std::wstring_view name) {
  // The system's own lower-casing first: on Windows it is what the patcher compares by.
  std::wstring text = toLowerWide(name);
  std::wstring out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = char32_t(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      // A surrogate pair is one character; folding it keeps it a pair.
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
          text[i + 1] < 0xE000) {
        char32_t full = 0x10000 + ((c - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00);
        char32_t f = Fold(full) - 0x10000;
        out.push_back(wchar_t(0xD800 + (f >> 10)));
        out.push_back(wchar_t(0xDC00 + (f & 0x3FF)));
        ++i;
        continue;
      }
    }
    out.push_back(wchar_t(Fold(c)));
  }
  return out;
}

}  // namespace sv
