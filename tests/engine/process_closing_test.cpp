// What closing the holders decides: who is closed, who goes to the elevated helper (all in one
// prompt), what the next dialog says; and the elevated helper's arguments and exit code.
#include "patcher/engine/process_closing.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>

namespace sv {
namespace {

LockingProcess Proc(uint32_t pid, const wchar_t* name, bool closable = true, uint64_t start = 0) {
  LockingProcess p;
  p.pid = pid;
  p.name = name;
  p.closable = closable;
  p.startTime = start;
  return p;
}

struct Recorder {
  std::map<uint32_t, int> results;
  bool elevated = false;
  int helperResult = kHelperAllClosed;
  std::vector<uint32_t> closed, announced;
  std::vector<std::vector<LockingProcess>> helperCalls;
  std::vector<std::wstring> logs;
  int elevatedAsked = 0;

  CloseSteps Steps() {
    CloseSteps s;
    s.announce = [this](const LockingProcess& p) { announced.push_back(p.pid); };
    s.closeProcess = [this](uint32_t pid, uint64_t) {
      closed.push_back(pid);
      return results.count(pid) ? results[pid] : kCloseDone;
    };
    s.elevated = [this] {
      ++elevatedAsked;
      return elevated;
    };
    s.closeElevated = [this](const std::vector<LockingProcess>& list) {
      helperCalls.push_back(list);
      return helperResult;
    };
    s.log = [this](const std::wstring& line) { logs.push_back(line); };
    return s;
  }
};

TEST(ClosePrograms, OnlyClosableOnesAreTouchedAndAllDeniedShareOnePrompt) {
  Recorder r;
  r.results = {{10, kCloseAccessDenied}, {11, kCloseDone}, {12, kCloseAccessDenied}};
  const CloseReport report = CloseProgramsWith(
      {Proc(10, L"a.exe"), Proc(11, L"b.exe"), Proc(99, L"explorer.exe", false), Proc(12, L"c.exe")},
      r.Steps());
  EXPECT_EQ(r.closed, (std::vector<uint32_t>{10, 11, 12}));
  EXPECT_EQ(r.announced, r.closed);
  ASSERT_EQ(r.helperCalls.size(), 1u);
  ASSERT_EQ(r.helperCalls[0].size(), 2u);
  EXPECT_EQ(r.helperCalls[0][0].pid, 10u);
  EXPECT_EQ(r.helperCalls[0][1].pid, 12u);
  EXPECT_EQ(r.elevatedAsked, 1);
  EXPECT_EQ(r.logs, (std::vector<std::wstring>{L"Yonetici izni gerekiyor: a.exe, c.exe"}));
  EXPECT_TRUE(report.failedNames.empty());
  EXPECT_TRUE(report.needAdminNames.empty());
}

TEST(ClosePrograms, DeclinedPromptAndFailuresBecomeTheNextMessage) {
  Recorder declined;
  declined.results = {{10, kCloseAccessDenied}};
  declined.helperResult = kHelperDeclined;
  CloseReport report = CloseProgramsWith({Proc(10, L"a.exe")}, declined.Steps());
  EXPECT_EQ(report.needAdminNames, L"a.exe");
  EXPECT_TRUE(report.failedNames.empty());

  Recorder helperFailed;
  helperFailed.results = {{10, kCloseAccessDenied}, {11, kCloseFailed}};
  helperFailed.helperResult = kHelperFailed;
  report = CloseProgramsWith({Proc(10, L"a.exe"), Proc(11, L"b.exe")}, helperFailed.Steps());
  EXPECT_EQ(report.failedNames, L"b.exe, a.exe");
  EXPECT_EQ(helperFailed.logs.back(), L"Program sonlandirilamadi: b.exe, a.exe");

  // Already elevated: a refusal is a failure, no prompt.
  Recorder elevated;
  elevated.elevated = true;
  elevated.results = {{10, kCloseAccessDenied}};
  report = CloseProgramsWith({Proc(10, L"a.exe")}, elevated.Steps());
  EXPECT_TRUE(elevated.helperCalls.empty());
  EXPECT_EQ(report.failedNames, L"a.exe");

  // Nothing closable: nothing happens, nothing is said.
  Recorder none;
  report = CloseProgramsWith({Proc(4, L"System", false)}, none.Steps());
  EXPECT_TRUE(none.closed.empty() && none.logs.empty() && report.failedNames.empty());
}

TEST(CloseHelper, ParametersCarryPidAndStartTime) {
  // A process without a start time is never handed on: nothing would tell it from a later one.
  EXPECT_EQ(ElevatedCloseParameters({Proc(1234, L"a", true, 133456789012345678ull),
                                     Proc(56, L"b")}),
            L"--sv-close 1234:133456789012345678");
  // The held files follow, quoted, at most kCloseMaxFiles of them.
  EXPECT_EQ(ElevatedCloseParameters({Proc(7, L"a", true, 9)}, {L"data\\map one.bin", L"x\"y", L"b"}),
            L"--sv-close 7:9 --sv-files \"data\\map one.bin\" \"b\"");
  std::vector<std::wstring> many(kCloseMaxFiles + 5, L"f");
  const std::wstring text = ElevatedCloseParameters({Proc(7, L"a", true, 9)}, many);
  size_t quotes = 0;
  for (wchar_t c : text) quotes += c == L'"';
  EXPECT_EQ(quotes, 2 * kCloseMaxFiles);
}

TEST(CloseHelper, ArgumentsAfterTheSwitchAreReadAsPairs) {
  CloseRequest r = ParseCloseArguments({L"x", L"12:5", L"--SV-CLOSE", L"1234:99", L"7:3"});
  ASSERT_EQ(r.pairs.size(), 2u);
  EXPECT_EQ(r.pairs[0].pid, 1234u);
  EXPECT_EQ(r.pairs[0].startTime, 99u);
  EXPECT_EQ(r.pairs[1].pid, 7u);
  EXPECT_FALSE(r.malformed);
  EXPECT_TRUE(r.files.empty());

  // ":0" is a process whose start time the patcher did not know: refused like any bad pair.
  for (const wchar_t* bad : {L"12", L":5", L"12:", L"4:1", L"0:0", L"-12:5", L"12:5x", L"1 2:5",
                             L"4294967296:1", L"12:18446744073709551616", L"12:5:6", L"12:0",
                             L"12:00"}) {
    r = ParseCloseArguments({L"--sv-close", bad, L"20:1"});
    EXPECT_TRUE(r.malformed) << bad;
    ASSERT_EQ(r.pairs.size(), 1u) << bad;
    EXPECT_EQ(r.pairs[0].pid, 20u);
  }
  EXPECT_TRUE(ParseCloseArguments({L"--sv-close"}).pairs.empty());
  EXPECT_TRUE(ParseCloseArguments({L"12:5"}).pairs.empty());  // no switch: nothing to close

  // The files after --sv-files stay inside the game folder.
  r = ParseCloseArguments({L"--sv-close", L"20:1", L"--sv-files", L"data\\a.bin", L"..\\x",
                           L"C:\\Windows\\x", L"\\x", L"a\\..\\..\\b", L"b c.txt", L"20:2"});
  EXPECT_FALSE(r.malformed);
  ASSERT_EQ(r.pairs.size(), 1u);
  // "20:2" after the switch is a name, and one with a colon is no relative path.
  EXPECT_EQ(r.files, (std::vector<std::wstring>{L"data\\a.bin", L"b c.txt"}));
}

// The helper's decision behind its seam. Wine never reuses a pid while a test runs, so the pid
// that now belongs to another program is given here as a process with another start time.
TEST(CloseHelper, ClosesOnlyTheProcessItCanMatchByStartTimeAndThatStillHoldsAGameFile) {
  const ClosePair asked{1234, 133456789012345678ull};
  HelperTargetFacts same;
  same.closable = true;
  same.creationTime = asked.startTime;
  EXPECT_EQ(DecideHelperClose(asked, same), HelperVerdict::Close);

  HelperTargetFacts reused = same;
  reused.creationTime = asked.startTime + 10000000;  // started a second later: another program
  EXPECT_EQ(DecideHelperClose(asked, reused), HelperVerdict::LeaveAlone);

  HelperTargetFacts unreadable = same;
  unreadable.creationTime = 0;
  EXPECT_EQ(DecideHelperClose(asked, unreadable), HelperVerdict::Refuse);
  EXPECT_EQ(DecideHelperClose(ClosePair{1234, 0}, same), HelperVerdict::Refuse);

  HelperTargetFacts component = same;
  component.closable = false;
  EXPECT_EQ(DecideHelperClose(asked, component), HelperVerdict::Refuse);

  HelperTargetFacts gone;
  gone.gone = true;
  EXPECT_EQ(DecideHelperClose(asked, gone), HelperVerdict::LeaveAlone);

  // Where the system names the holders, a process that no longer holds a game file stays.
  HelperTargetFacts letGo = same;
  letGo.holdersKnown = true;
  letGo.holdsGameFile = false;
  EXPECT_EQ(DecideHelperClose(asked, letGo), HelperVerdict::LeaveAlone);
  HelperTargetFacts holds = letGo;
  holds.holdsGameFile = true;
  EXPECT_EQ(DecideHelperClose(asked, holds), HelperVerdict::Close);

  EXPECT_TRUE(SameProcessStart(5, 5));
  EXPECT_FALSE(SameProcessStart(5, 6));
  EXPECT_FALSE(SameProcessStart(0, 0));
}

TEST(CloseHelper, ThePatcherWaitsAsLongAsTheHelperMayWork) {
  // The helper may spend the polite wait and the termination wait on every process it closes;
  // the patcher waits for all of that and the helper's start besides.
  for (size_t n : {size_t(1), size_t(3), size_t(4), size_t(10), size_t(40)}) {
    EXPECT_GE(ElevatedHelperWaitMs(n),
              kClosePoliteWaitMs * n + kCloseTerminateWaitMs * n + kCloseRefusedWaitMs * n)
        << n;
  }
  EXPECT_GE(kCloseOneBoundMs, 8000u);
  // Four processes were already past the old fixed 30 s.
  EXPECT_GT(ElevatedHelperWaitMs(4), 30000u);
  EXPECT_LT(ElevatedHelperWaitMs(1000000000), UINT32_MAX);
}

TEST(CloseHelper, ExitCodes) {
  std::vector<uint32_t> asked;
  auto closeOne = [&](const ClosePair& p) {
    asked.push_back(p.pid);
    if (p.pid == 8) return -1;  // protected
    if (p.pid == 9) return kCloseFailed;
    return kCloseDone;
  };
  EXPECT_EQ(RunCloseRequest(ParseCloseArguments({L"--sv-close"}), closeOne), 2);
  EXPECT_EQ(RunCloseRequest(ParseCloseArguments({L"--sv-close", L"junk"}), closeOne), 2);
  EXPECT_TRUE(asked.empty());
  EXPECT_EQ(RunCloseRequest(ParseCloseArguments({L"--sv-close", L"10:1", L"11:2"}), closeOne), 0);
  EXPECT_EQ(RunCloseRequest(ParseCloseArguments({L"--sv-close", L"8:1"}), closeOne), 1);
  EXPECT_EQ(RunCloseRequest(ParseCloseArguments({L"--sv-close", L"9:1", L"10:1"}), closeOne), 1);
  EXPECT_EQ(RunCloseRequest(ParseCloseArguments({L"--sv-close", L"x", L"10:1"}), closeOne), 2);
  // A failure after a malformed argument: the failure is what the asking patcher hears.
  EXPECT_EQ(RunCloseRequest(ParseCloseArguments({L"--sv-close", L"x", L"9:1"}), closeOne), 1);
}

}  // namespace
}  // namespace sv
