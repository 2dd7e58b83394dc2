#include "publisher/glob_match.h"

#include <vector>

namespace sv {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

// Table of "pattern from i matches text from j", filled from the ends: patterns and paths are
// short, and the table keeps "**" beside '*' correct without backtracking.
bool GlobMatch(std::string_view pattern, std::string_view text) {
  const size_t n = text.size();
  std::vector<char> next(n + 1, 0), cur(n + 1, 0);
  next[n] = 1;  // the empty pattern matches only the empty rest
  for (size_t i = pattern.size(); i-- > 0;) {
    const char c = pattern[i];
    const bool twoStars = c == '*' && i + 1 < pattern.size() && pattern[i + 1] == '*';
    if (c == '*' && i > 0 && pattern[i - 1] == '*') {
      continue;  // the second star of a pair: handled with the first
    }
    const std::vector<char>& after = next;
    for (size_t j = n + 1; j-- > 0;) {
      if (c == '*') {
        // Matches nothing, or one more character (not '/' for a single star) and stays.
        bool more = j < n && (twoStars || text[j] != '/') && cur[j + 1];
        cur[j] = char(after[j] || more);
      } else {
        cur[j] = char(j < n && after[j + 1] &&
                      (c == '/' ? text[j] == '/'
                                : text[j] != '/' && (c == '?' || Lower(c) == Lower(text[j]))));
      }
    }
    next.swap(cur);
  }
  return next[0] != 0;
}

bool IsExcluded(const std::vector<std::string>& patterns, std::string_view path) {
  for (const std::string& pattern : patterns) {
    const bool whole = pattern.find('/') != std::string::npos;
    size_t start = 0;
    for (;;) {
      size_t slash = path.find('/', start);
      size_t end = slash == std::string_view::npos ? path.size() : slash;
      std::string_view candidate = whole ? path.substr(0, end) : path.substr(start, end - start);
      if (GlobMatch(pattern, candidate)) return true;
      if (slash == std::string_view::npos) break;
      start = slash + 1;
    }
  }
  return false;
}

}  // namespace sv
