#include "patcher/engine/download_plan.h"

#include <gtest/gtest.h>

#include <iterator>
#include <set>

#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/download_progress.h"
#include "release/file_list.h"
#include "skin/locale_table.h"

namespace sv {
namespace {

TEST(DownloadPlan, JobNamesAndAddresses) {
  FileEntry entry;
  entry.path = L"pack\\sub\\root.epk";
  entry.source = L"http://h/patch/?k=1#frag";
  entry.crc = 0xabc;
  entry.size = 77;
  const DownloadJob job = MakeDownloadJob(entry, L"C:\\Oyun", L"C:\\Oyun\\temp");
  EXPECT_EQ(job.destPath, L"C:\\Oyun\\pack\\sub\\root.epk");
  EXPECT_EQ(job.partPath, L"C:\\Oyun\\temp\\sv_pack#sub#root.epk.part");
  EXPECT_EQ(job.statePath, L"C:\\Oyun\\temp\\sv_pack#sub#root.epk.state");
  EXPECT_EQ(job.outPath, L"C:\\Oyun\\temp\\sv_pack#sub#root.epk.out");
  EXPECT_EQ(job.remoteSize, -1);
  EXPECT_EQ(job.baseUrl, L"http://h/patch/?k=1#frag");
  // The address of a file in the list comes from its path when the job is made.
  FileEntry named = entry;
  named.path = L"Harita\\\u00C7\u00F6l #1.bin";
  const DownloadJob namedJob = MakeDownloadJob(named, L"C:\\Oyun", L"C:\\Oyun\\temp");
  EXPECT_EQ(namedJob.listPath, "Harita/%C3%87%C3%B6l%20%231.bin");
  EXPECT_EQ(namedJob.baseUrl, L"http://h/patch/?k=1#frag");
  EXPECT_EQ(FileDownloadUrl(L"http://h/patch", "/a/b.bin", 0x1f), L"http://h/patch/a/b.bin.lz?v=0000001f");
  EXPECT_EQ(FileDownloadUrl(L"", "a.bin", 0), L"a.bin.lz?v=00000000");
  EXPECT_EQ(TempBaseName(L"T", L"a/b\\c"), L"T\\sv_a#b#c");
}

TEST(DownloadPlan, EveryPathOfALongDestinationIsInTheExtendedForm) {
  // A destination of 250 characters fits MAX_PATH; its work files do not, and open only in the
  // "\\?\" form. Windows enforces MAX_PATH on the other forms and Wine does not, so the run's
  // own test cannot show it: the forms are checked here.
  const std::wstring game = L"C:\\Oyun/Istemci";
  FileEntry entry;
  const size_t stem = 250 - game.size() - 1 - 5 - 4;
  entry.path = std::wstring(L"veri\\") + std::wstring(stem, L'x') + L".bin";
  const std::wstring root = EngineRoot(game);
  EXPECT_EQ(root, L"\\\\?\\C:\\Oyun\\Istemci");
  const DownloadJob job = MakeDownloadJob(entry, root, joinPath(root, L"temp"));
  EXPECT_EQ(job.destPath.size(), 4u + 250u);
  EXPECT_GT(job.partPath.size(), 4u + 260u);
  for (const std::wstring* p : {&job.destPath, &job.partPath, &job.statePath, &job.outPath}) {
    EXPECT_EQ(p->compare(0, 7, L"\\\\?\\C:\\"), 0) << *p;
    EXPECT_EQ(p->find(L'/'), std::wstring::npos) << *p;
  }
  // A game folder on a share: the "\\?\UNC\" form.
  const std::wstring share = EngineRoot(L"\\\\sunucu\\oyunlar\\Istemci");
  EXPECT_EQ(share, L"\\\\?\\UNC\\sunucu\\oyunlar\\Istemci");
  const DownloadJob onShare = MakeDownloadJob(entry, share, joinPath(share, L"temp"));
  EXPECT_EQ(onShare.outPath.compare(0, 8, L"\\\\?\\UNC\\"), 0) << onShare.outPath;
}

TEST(DownloadPlan, TemporaryNamesNeverCollide) {
  // '#' stands for the separator: a name that holds one must not meet a path that has none.
  EXPECT_NE(TempBaseName(L"T", L"a#b.bin"), TempBaseName(L"T", L"a\\b.bin"));
  EXPECT_EQ(TempBaseName(L"T", L"a\\b.bin"), L"T\\sv_a#b.bin");  // as older runs named it
  EXPECT_EQ(TempBaseName(L"T", L"a#b.bin"), L"T\\sv_#a%23b.bin");
  const wchar_t* const paths[] = {L"a#b", L"a\\b", L"a#\\b", L"a\\#b", L"a##b", L"a%23b",
                                  L"a#%23b", L"a%#b", L"#a", L"%a", L"a%25#b", L"a%#25b"};
  std::set<std::wstring> names;
  for (const wchar_t* p : paths) names.insert(TempBaseName(L"T", p));
  EXPECT_EQ(names.size(), std::size(paths));
}

TEST(DownloadPlan, LimitsAndClamps) {
  EXPECT_EQ(MaxLzStreamSize(0), 71u);
  EXPECT_EQ(MaxLzStreamSize(1600), 4u + 1600 + 100 + 67);
  EXPECT_EQ(DiskSpaceNeeded(0), 67108864u);
  EXPECT_EQ(DiskSpaceNeeded(1000), 1000u + 200 + 67108864);
  EXPECT_EQ(ClampWorkers(0), 1);
  EXPECT_EQ(ClampWorkers(-3), 1);
  EXPECT_EQ(ClampWorkers(4), 4);
  EXPECT_EQ(ClampWorkers(12), 8);
}

TEST(DownloadPlan, WriteErrorTexts) {
  LocaleTable locale;
  locale.set("SV_DISK_FULL", L"Disk dolu. Gereken: %s");
  locale.set("FAILED_WRITE_FILE", L"Yazilamadi");
  EXPECT_EQ(WriteErrorText(locale, 112), L"Disk dolu.");
  EXPECT_EQ(WriteErrorText(locale, 39), L"Disk dolu.");
  EXPECT_EQ(WriteErrorText(locale, 5).substr(0, 11), L"Yazilamadi ");
  EXPECT_GT(WriteErrorText(locale, 5).size(), 11u);
}

TEST(DownloadProgress, WeightsFileLineSpeedAndRemaining) {
  std::vector<DownloadJob> jobs(3);
  jobs[0].name = L"done.bin";
  jobs[0].size = 1000;
  jobs[0].state = kJobDone;
  jobs[1].name = L"half.bin";
  jobs[1].size = 1000;
  jobs[1].state = kJobDownloading;
  jobs[1].remoteSize = 400;
  jobs[1].downloaded = 200;
  jobs[2].name = L"empty.bin";  // weight 1
  ProgressMeter meter;
  ProgressFigures f = meter.Tick(1000, jobs, 0, L"Yaziliyor", L"");
  EXPECT_NEAR(f.overall, (1000 + 0.5 * 1000 * 0.98) / 2001.0, 1e-6);
  EXPECT_TRUE(f.hasCurrent);
  EXPECT_FLOAT_EQ(f.current, 0.5f);
  EXPECT_EQ(f.fileLine, L"half.bin (%50)");
  EXPECT_TRUE(f.speedText.empty());

  f = meter.Tick(3000, jobs, 2000000, L"Yaziliyor", L"");
  EXPECT_FALSE(f.speedText.empty());  // 2 MB in 2 s
  jobs[1].downloaded = 400;
  jobs[1].state = kJobFinishing;
  f = meter.Tick(5000, jobs, 4000000, L"Yaziliyor", L"");
  EXPECT_EQ(f.fileLine, L"Yaziliyor - half.bin");
  EXPECT_FLOAT_EQ(f.current, 1.0f);
  EXPECT_FALSE(f.remainingText.empty());
  // A waiting file-in-use line wins over the file line.
  f = meter.Tick(5100, jobs, 4000000, L"Yaziliyor", L"kullanimda: x");
  EXPECT_EQ(f.fileLine, L"kullanimda: x");

  std::vector<DownloadJob> none;
  EXPECT_FLOAT_EQ(meter.Tick(6000, none, 0, L"", L"").overall, 1.0f);
  EXPECT_FALSE(meter.Tick(6000, none, 0, L"", L"").hasCurrent);
}

// Amount and time left count the bytes to download, as the speed does: a file that packs to a
// tenth of its size is a tenth of the amount once its .lz size is known (or signed), its own
// size before. 900 + 100 bytes to go at 100 bytes a second is about 10 s, not the 9000 bytes of
// the files' own sizes.
TEST(DownloadProgress, AmountSpeedAndTimeLeftShareTheBytesToDownload) {
  std::vector<DownloadJob> jobs(3);
  jobs[0].size = 10000;
  jobs[0].remoteSize = 1000;
  jobs[0].state = kJobDownloading;
  jobs[1].size = 5000;
  jobs[1].hasObject = true;
  jobs[1].objectSize = 500;
  jobs[2].size = 400;  // not started: its own size stands in
  ProgressMeter meter;
  ProgressFigures f = meter.Tick(1000, jobs, 0, L"", L"");
  EXPECT_EQ(f.amountText, formatSize(0) + L" / " + formatSize(1900));
  jobs[0].downloaded = 500;
  f = meter.Tick(6000, jobs, 500, L"", L"");
  EXPECT_EQ(f.amountText, formatSize(500) + L" / " + formatSize(1900));
  EXPECT_EQ(f.speedText, formatSpeed(100));
  EXPECT_EQ(f.remainingText, formatDuration(1400 / 100 + 1));
}

}  // namespace
}  // namespace sv
