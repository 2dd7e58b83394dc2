// Lower-casing as Windows' default (non-linguistic) table does it, for the letters this program
// meets: ASCII, Latin-1 and Latin Extended-A, which holds the Turkish letters. Like CharLowerBuffW
// (no linguistic casing), 'I' folds to 'i' and the dotted capital 'İ' stays as it is.
#include "common/text.h"

namespace sv {

namespace {

char32_t lowerLatin(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  if (c == 0x178) return 0xFF;
  // Extended-A pairs capital and small letter as (even, odd), shifted to (odd, even) between
  // U+0139 and U+0148 and again from U+0179.
  const bool evenCapital = (c >= 0x100 && c <= 0x137 && c != 0x130) || (c >= 0x14A && c <= 0x177);
  const bool oddCapital = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
  if ((evenCapital && c % 2 == 0) || (oddCapital && c % 2 == 1)) return c + 1;
  return c;
}

}  // namespace

std::wstring toLowerWide(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) c = wchar_t(lowerLatin(char32_t(c)));
  return out;
}

}  // namespace sv
