// The log, as both builds write it: line format, the message cut, the size cap, truncation and
// several threads at once.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "patcher/engine/log.h"
#include "patcher/engine/log_format.h"

namespace {

std::wstring Fmt(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring s = sv::FormatLogMessage(format, args);
  va_end(args);
  return s;
}

std::string ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const char* path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back(text.substr(pos));  // an unterminated tail shows up as a bad line
      break;
    }
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

bool IsDigits(const std::string& s, size_t pos, size_t count, int max) {
  if (s.size() < pos + count) return false;
  int v = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  return v <= max;
}

// The message of a "HH:MM:SS.mmm  message" line, or a marker that fails any comparison.
std::string MessageOf(const std::string& line) {
  bool ok = line.size() >= 14 && IsDigits(line, 0, 2, 23) && line[2] == ':' &&
            IsDigits(line, 3, 2, 59) && line[5] == ':' && IsDigits(line, 6, 2, 59) &&
            line[8] == '.' && IsDigits(line, 9, 3, 999) && line.compare(12, 2, "  ") == 0;
  return ok ? line.substr(14) : "<bad line: " + line + ">";
}

}  // namespace

TEST(LogFormat, ConversionsFollowC99OnEveryBuild) {
  // Narrow strings are UTF-8; wide ones are taken as they are.
  EXPECT_EQ(Fmt(L"%s|%ls", "\xC3\xA7\xC4\xB1k\xC4\xB1\xC5\x9F", L"\u00E7\u0131k\u0131\u015F"),
            L"\u00E7\u0131k\u0131\u015F|\u00E7\u0131k\u0131\u015F");
  EXPECT_EQ(Fmt(L"[%5d][%-5d][%05d][%+d]", 42, 42, 42, 42), L"[   42][42   ][00042][+42]");
  EXPECT_EQ(Fmt(L"%08x %X %o", 0xBEEFu, 0xABCu, 8u), L"0000beef ABC 10");
  EXPECT_EQ(Fmt(L"%llu %lld %zu", 18446744073709551615ull, -9223372036854775807ll - 1, size_t(7)),
            L"18446744073709551615 -9223372036854775808 7");
  EXPECT_EQ(Fmt(L"%lu %ld %hu %hhd", 4000000000ul, -5l, 65537u, 300), L"4000000000 -5 1 44");
  EXPECT_EQ(Fmt(L"%.2f %.1f", 3.14159, 2.0), L"3.14 2.0");
  EXPECT_EQ(Fmt(L"[%6s][%-6ls][%.2s][%*d][%-*d]", "ab", L"cd", "xyz", 4, 1, 3, 2),
            L"[    ab][cd    ][xy][   1][2  ]");
  EXPECT_EQ(Fmt(L"%c%lc%%", 'a', wint_t(L'\u011F')), L"a\u011F%");
  EXPECT_EQ(Fmt(L"%s %ls", static_cast<const char*>(nullptr), static_cast<const wchar_t*>(nullptr)),
            L"(null) (null)");
  int untouched = 7;
  EXPECT_EQ(Fmt(L"a%nb", &untouched), L"ab");
  EXPECT_EQ(untouched, 7);
  EXPECT_EQ(Fmt(L"%q %"), L"%q %");
}

TEST(LogFormat, MessageIsCutAt2047Characters) {
  std::wstring exact(2047, L'a');
  EXPECT_EQ(Fmt(L"%ls", exact.c_str()), exact);
  EXPECT_EQ(Fmt(L"%lsb", exact.c_str()), exact);
  std::wstring longer(5000, L'z');
  EXPECT_EQ(Fmt(L"x%ls", longer.c_str()), L"x" + std::wstring(2046, L'z'));
  EXPECT_EQ(Fmt(L"%3000d", 1).size(), 2047u);
}

TEST(Log, WritesUtf8LinesWithTimeStampAndNoBom) {
  const char* path = "log_test_format.log";
  sv::OpenLog(L"log_test_format.log");
  sv::Log(L"Skin yuklenemedi: %ls", L"Gomulu skin yok.");
  sv::Log(L"%s %d", "\xC3\xBC\xC3\xA7", 12);
  sv::CloseLog();
  sv::Log(L"after close");
  std::string text = ReadAll(path);
  ASSERT_GE(text.size(), 3u);
  EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF");
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), 2u) << text;
  EXPECT_EQ(MessageOf(lines[0]), "Skin yuklenemedi: Gomulu skin yok.");
  EXPECT_EQ(MessageOf(lines[1]), "\xC3\xBC\xC3\xA7 12");
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(Log, OpenTruncatesAndCapsAtOneMebibyte) {
  const char* path = "log_test_cap.log";
  WriteAll(path, std::string(3 * 1024 * 1024, 'o'));  // an old log much larger than the cap
  sv::OpenLog(L"log_test_cap.log");
  // Every line has the same length: 14 bytes of stamp, a 1000-byte message and CR LF.
  const size_t lineBytes = 14 + 1000 + 2;
  const size_t linesToCap = (sv::kLogCapBytes + lineBytes - 1) / lineBytes;
  std::string filler(996, 'f');
  for (size_t i = 0; i < linesToCap + 50; ++i) sv::Log(L"%04zu%s", i, filler.c_str());
  sv::Log(L"dropped");
  std::string text = ReadAll(path);
  EXPECT_EQ(text.size(), linesToCap * lineBytes);  // the line crossing the cap is whole
  EXPECT_GT(text.size(), size_t(sv::kLogCapBytes));
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(lines.size(), linesToCap);
  EXPECT_EQ(MessageOf(lines.back()).substr(0, 4), std::to_string(linesToCap - 1));
  EXPECT_EQ(text.find("dropped"), std::string::npos);

  // A new open starts a new, empty log with a fresh count.
  sv::OpenLog(L"log_test_cap.log");
  sv::Log(L"again");
  sv::CloseLog();
  lines = Lines(ReadAll(path));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(MessageOf(lines[0]), "again");
}

TEST(Log, LinesFromManyThreadsNeverInterleave) {
  const char* path = "log_test_threads.log";
  sv::OpenLog(L"log_test_threads.log");
  const int kThreads = 8, kLines = 400;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      // Lines of different lengths, so a torn write would show in the pattern.
      std::wstring pad(size_t(50 + t * 37), wchar_t(L'a' + t));
      for (int i = 0; i < kLines; ++i) sv::Log(L"t%d n%d %ls", t, i, pad.c_str());
    });
  }
  for (auto& th : threads) th.join();
  sv::CloseLog();
  std::set<std::string> seen;
  for (const std::string& line : Lines(ReadAll(path))) {
    std::string msg = MessageOf(line);
    // "t<thread> n<index> <pad>"
    size_t space1 = msg.find(' '), space2 = msg.find(' ', space1 + 1);
    ASSERT_TRUE(msg.size() > 3 && msg[0] == 't' && space1 == 2 && msg[3] == 'n' &&
                space2 != std::string::npos) << msg;
    int t = msg[1] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << msg;
    EXPECT_EQ(msg.substr(space2 + 1), std::string(size_t(50 + t * 37), char('a' + t)));
    seen.insert(msg.substr(0, space2));
  }
  EXPECT_EQ(seen.size(), size_t(kThreads * kLines));
}

TEST(Log, FailedOpenLeavesLoggingOff) {
  sv::OpenLog(L"no_such_folder_for_log/x/y.log");
  sv::Log(L"nowhere %d", 1);  // must not crash or write elsewhere
  sv::CloseLog();
  std::ifstream probe("no_such_folder_for_log/x/y.log");
  EXPECT_FALSE(probe.good());
}
