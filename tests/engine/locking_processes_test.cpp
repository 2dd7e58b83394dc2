// Who holds a file, from the two system sources behind their seam. Under Wine both sources
// answer nothing (the Restart Manager lists no process, the file-system probe is not
// implemented), so the merging rules are tried here with answers a real Windows gives.
#include "patcher/engine/locking_processes.h"

#include <gtest/gtest.h>

#include <map>

namespace sv {
namespace {

struct FakeSystem {
  std::vector<RmProcess> rm;
  std::map<std::wstring, std::vector<uint32_t>> probe;
  std::map<uint32_t, ProcessFacts> facts;
  std::vector<std::vector<std::wstring>> rmAsked;

  LockingSources Sources(uint32_t ownPid = 1000, uint32_t ownSession = 1) {
    LockingSources s;
    s.restartManager = [this](const std::vector<std::wstring>& paths) {
      rmAsked.push_back(paths);
      return rm;
    };
    s.fileProbe = [this](const std::wstring& path) { return probe[path]; };
    s.describe = [this](uint32_t pid) { return facts[pid]; };
    s.ownPid = ownPid;
    s.ownSessionKnown = true;
    s.ownSession = ownSession;
    return s;
  }
};

ProcessFacts Running(const std::wstring& image, uint64_t created = 0, uint32_t session = 1) {
  ProcessFacts f;
  f.opened = true;
  f.imagePath = image;
  f.creationTime = created;
  f.sessionKnown = true;
  f.session = session;
  return f;
}

std::vector<uint32_t> Pids(const std::vector<LockingProcess>& list) {
  std::vector<uint32_t> out;
  for (const LockingProcess& p : list) out.push_back(p.pid);
  return out;
}

TEST(LockingProcesses, BothSourcesMergedOnceEachClosableFirstOwnProcessLeftOut) {
  FakeSystem sys;
  sys.rm = {{40, 111, L"Oyun", 1}, {12, 222, L"Ayarlar", 1}};
  sys.probe[L"C:\\g\\a.dat"] = {12, 99, 1000, 40};
  sys.probe[L"C:\\g\\b.dat"] = {7, 99, 300};
  sys.facts[40] = Running(L"C:\\g\\Draskel.exe", 555);
  sys.facts[12] = Running(L"C:\\g\\config.exe");  // no start time of its own: the RM's
  sys.facts[99] = Running(L"C:\\Windows\\explorer.exe");
  sys.facts[7] = Running(L"C:\\Windows\\System32\\SearchIndexer.exe");
  sys.facts[300] = Running(L"C:\\Tools\\editor.exe", 777);
  sys.facts[1000] = Running(L"C:\\g\\Sarvik.exe");
  const auto list = MergeLockingProcesses({L"C:\\g\\a.dat", L"C:\\g\\b.dat"}, sys.Sources());
  // Closable in descending pid order, then the protected ones in ascending order; the patcher's
  // own pid and the duplicates are gone.
  EXPECT_EQ(Pids(list), (std::vector<uint32_t>{300, 40, 12, 7, 99}));
  ASSERT_EQ(sys.rmAsked.size(), 1u);
  EXPECT_EQ(sys.rmAsked[0].size(), 2u);
  EXPECT_EQ(list[1].name, L"Draskel.exe");
  EXPECT_EQ(list[1].path, L"C:\\g\\Draskel.exe");
  EXPECT_EQ(list[1].startTime, 555u);  // the process's own creation time wins
  EXPECT_EQ(list[2].startTime, 222u);  // none readable: the Restart Manager's stays
  EXPECT_TRUE(list[0].closable && list[1].closable && list[2].closable);
  EXPECT_FALSE(list[3].closable);
  EXPECT_EQ(list[3].name, L"SearchIndexer.exe");
  EXPECT_FALSE(list[4].closable);
}

TEST(LockingProcesses, NamesFallBackToTheRestartManagerThenToThePid) {
  FakeSystem sys;
  sys.rm = {{50, 9, L"Draskel Online", 1}};
  sys.probe[L"x"] = {60, 70};
  sys.facts[60].opened = true;  // opened, but the image path could not be read
  sys.facts[70] = Running(L"D:\\Oyun\\game.exe", 0);
  const auto list = MergeLockingProcesses({L"x"}, sys.Sources());
  ASSERT_EQ(list.size(), 3u);
  // Only the Restart Manager's entry has a start time: it alone is closable, and comes first.
  EXPECT_EQ(list[0].name, L"Draskel Online");
  EXPECT_EQ(list[0].startTime, 9u);
  EXPECT_TRUE(list[0].closable);
  EXPECT_EQ(list[1].name, L"PID 60");
  EXPECT_TRUE(list[1].path.empty());
  EXPECT_EQ(list[2].name, L"game.exe");
  EXPECT_EQ(list[2].startTime, 0u);
}

TEST(LockingProcesses, AHolderWithoutAStartTimeIsNeverClosable) {
  // Listed as closable "PID n" with start time 0, it was closed without any identity check; by
  // the time the player answers, the pid may be another program's.
  FakeSystem sys;
  sys.probe[L"x"] = {60, 70, 80};
  sys.facts[60].opened = false;                      // not even openable
  sys.facts[70] = Running(L"D:\\Oyun\\game.exe", 0);  // openable, times unreadable
  sys.facts[80] = Running(L"D:\\Oyun\\game.exe", 5);
  const auto list = MergeLockingProcesses({L"x"}, sys.Sources());
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].pid, 80u);
  EXPECT_TRUE(list[0].closable);
  EXPECT_FALSE(list[0].identityUnknown);
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_FALSE(list[i].closable) << list[i].pid;
    EXPECT_TRUE(list[i].identityUnknown) << list[i].pid;
  }
  // A Windows component stays one, with or without a start time.
  ProcessFacts indexer = Running(L"C:\\Windows\\System32\\SearchIndexer.exe", 0);
  const LockingProcess p = DescribeLockingProcess(90, nullptr, indexer, true, 1);
  EXPECT_FALSE(p.closable);
}

TEST(LockingProcesses, WindowsComponentsAndOtherSessionsAreNotClosable) {
  FakeSystem sys;
  sys.rm = {{20, 0, L"Hizmet", kRmService}, {21, 0, L"Kabuk", kRmExplorer}, {22, 0, L"Oyun", 1}};
  sys.probe[L"x"] = {4, 23, 24};
  sys.facts[20] = Running(L"C:\\svc\\agent.exe", 1);
  sys.facts[21] = Running(L"C:\\shell\\shell.exe", 1);
  sys.facts[22] = Running(L"C:\\g\\game.exe", 1);
  sys.facts[23] = Running(L"C:\\g\\game.exe", 1, 2);  // another user's session
  sys.facts[24].sessionKnown = true;                  // not openable, session 0
  sys.facts[24].session = 0;
  const auto list = MergeLockingProcesses({L"x"}, sys.Sources());
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[0].pid, 22u);
  EXPECT_TRUE(list[0].closable);
  for (size_t i = 1; i < list.size(); ++i) EXPECT_FALSE(list[i].closable) << list[i].pid;
  EXPECT_EQ(list[1].name, L"PID 4");  // pid below 5: the system itself
}

TEST(LockingProcesses, ProtectedNamesAreWholeNamesInAnyCase) {
  for (const wchar_t* name :
       {L"System", L"smss.exe", L"CSRSS.EXE", L"wininit.exe", L"winlogon.exe", L"services.exe",
        L"lsass.exe", L"svchost.exe", L"dwm.exe", L"Explorer.EXE", L"fontdrvhost.exe",
        L"MsMpEng.exe", L"NisSrv.exe", L"searchindexer.exe", L"SearchProtocolHost.exe",
        L"searchfilterhost.exe"}) {
    EXPECT_TRUE(IsProtectedProcessName(name)) << name;
  }
  for (const wchar_t* name : {L"explorer", L"myexplorer.exe", L"svchost.exe.bak", L"", L"Draskel.exe",
                              L"system32"}) {
    EXPECT_FALSE(IsProtectedProcessName(name)) << name;
  }
}

TEST(LockingProcesses, NoRestartManagerLeavesTheProbeAlone) {
  FakeSystem sys;
  LockingSources s = sys.Sources();
  s.restartManager = nullptr;
  sys.probe[L"x"] = {31, 30};
  sys.facts[30] = Running(L"C:\\a.exe", 3);
  sys.facts[31] = Running(L"C:\\b.exe", 3);
  EXPECT_EQ(Pids(MergeLockingProcesses({L"x"}, s)), (std::vector<uint32_t>{31, 30}));
  // Neither source knows anyone: an empty list, which the dialog shows as "unknown".
  FakeSystem none;
  EXPECT_TRUE(MergeLockingProcesses({L"x"}, none.Sources()).empty());
}

}  // namespace
}  // namespace sv
