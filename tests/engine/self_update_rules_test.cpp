// The self-update's rules: which address is an ".lz", when a fetched body may become the program
// file, the names the swap uses, and the signer rule for signed patchers.
#include "patcher/engine/self_update.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "common/crc32.h"
#include "tests/engine/lz_test_util.h"

namespace sv {
namespace {

TEST(SelfUpdateRules, LzIsTheEndingOfThePathInAnyCaseWithTheQueryIgnored) {
  EXPECT_TRUE(IsLzPatcherUrl(L"http://h/p/Sarvik.exe.lz"));
  EXPECT_TRUE(IsLzPatcherUrl(L"http://h/p/SARVIK.EXE.LZ?x=1"));
  EXPECT_TRUE(IsLzPatcherUrl(L"http://h/p/a.Lz?"));
  EXPECT_FALSE(IsLzPatcherUrl(L"http://h/p/Sarvik.exe"));
  EXPECT_FALSE(IsLzPatcherUrl(L"http://h/p/Sarvik.exe?f=a.lz"));
  EXPECT_FALSE(IsLzPatcherUrl(L"http://h/p/a.lzo"));
  EXPECT_FALSE(IsLzPatcherUrl(L"lz"));
}

TEST(SelfUpdateRules, FileNamesAndCommandLine) {
  EXPECT_EQ(SelfUpdateNewPath(L"C:\\Oyun\\temp", L"C:\\Oyun\\Sarvik.exe"),
            L"C:\\Oyun\\temp\\Sarvik.exe.new");
  EXPECT_EQ(SelfUpdateOldPath(L"C:\\Oyun\\temp", L"C:\\Oyun\\Sarvik.exe"),
            L"C:\\Oyun\\temp\\Sarvik.exe.old");
  EXPECT_EQ(SelfUpdateFallbackOldPath(L"C:\\Oyun\\Sarvik.exe"), L"C:\\Oyun\\Sarvik.exe.old");
  EXPECT_EQ(SelfUpdateCommandLine(L"C:\\Oyun Klasörü\\Sarvik.exe"),
            L"\"C:\\Oyun Klasörü\\Sarvik.exe\" --sv-updated");
}

TEST(SelfUpdateRules, BodyMustDecodeBeNonEmptyAndCarryThePublishedCrc) {
  std::string body = "MZ yeni patcher";
  const uint32_t crc = Crc32(body.data(), body.size());
  std::wstring log;
  EXPECT_TRUE(PreparePatcherBody(L"http://h/Sarvik.exe", crc, body, log));
  EXPECT_EQ(body, "MZ yeni patcher");
  EXPECT_FALSE(PreparePatcherBody(L"http://h/Sarvik.exe", crc ^ 1, body, log));
  EXPECT_EQ(log, L"Patcher CRC uyusmadi, guncelleme atlandi.");
  std::string empty;
  log.clear();
  EXPECT_FALSE(PreparePatcherBody(L"http://h/Sarvik.exe", 0, empty, log));
  EXPECT_EQ(log, L"Patcher CRC uyusmadi, guncelleme atlandi.");

  // A stream made by python3-lzo, named with capitals and a query.
  const std::vector<uint8_t> lz = test::ReadSample(test::GoldenLzFolder(), "text_65535.l1.lz");
  std::string packed(lz.begin(), lz.end());
  log.clear();
  EXPECT_TRUE(PreparePatcherBody(L"http://h/SARVIK.EXE.LZ?x=1", 0xe0415fd3u, packed, log)) << log;
  EXPECT_EQ(packed.size(), 65535u);

  // The same bytes without the ending are taken as they are, and their CRC is not the file's.
  std::string asIs(lz.begin(), lz.end());
  EXPECT_FALSE(PreparePatcherBody(L"http://h/Sarvik.exe", 0xe0415fd3u, asIs, log));

  std::string broken(lz.begin(), lz.begin() + long(lz.size() / 2));
  EXPECT_FALSE(PreparePatcherBody(L"http://h/Sarvik.exe.lz", 0xe0415fd3u, broken, log));
  EXPECT_EQ(log.rfind(L"Patcher .lz cozulemedi: ", 0), 0u) << log;

  // A few bytes that claim a 3 GB patcher are refused before anything is allocated.
  std::string huge = std::string("\x00\x00\x00\xC0", 4) + std::string(16, '\x11');
  EXPECT_FALSE(PreparePatcherBody(L"http://h/Sarvik.exe.lz", 0, huge, log));
  EXPECT_EQ(log.rfind(L"Patcher .lz cozulemedi: ", 0), 0u) << log;
}

FileSignature Signed(const char* cert, int32_t trust = 0) {
  FileSignature s;
  s.present = true;
  s.signerCert = cert;
  s.trust = trust;
  return s;
}

TEST(SelfUpdateRules, SignedPatcherTakesOnlyAValidSignatureOfItsOwnSigner) {
  const FileSignature unsignedFile;
  // Not signed itself: the CRC rule alone, whatever the new file carries.
  EXPECT_EQ(DecideSigner(unsignedFile, unsignedFile), SignerVerdict::CrcOnly);
  EXPECT_EQ(DecideSigner(unsignedFile, Signed("B")), SignerVerdict::CrcOnly);

  const FileSignature running = Signed("A", int32_t(0x800B0109));
  EXPECT_EQ(DecideSigner(running, Signed("A")), SignerVerdict::Accepted);
  // The signer is pinned, so an own root the system does not know does not refuse.
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x800B0109))), SignerVerdict::Accepted);
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x800B010A))), SignerVerdict::Accepted);
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x800B0101))), SignerVerdict::Accepted);
  EXPECT_EQ(DecideSigner(running, Signed("B")), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(running, unsignedFile), SignerVerdict::Refused);
  // Changed after signing, or a signature that does not verify for any other reason.
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x80096010))), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x800B0004))), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x80096004))), SignerVerdict::Refused);
  FileSignature noCert = Signed("");
  EXPECT_EQ(DecideSigner(running, noCert), SignerVerdict::Refused);
}

// A folder of named contents; a move fails for the paths told, as a held file does.
struct FakeDisk {
  std::map<std::wstring, std::string> files;
  std::set<std::wstring> unmovable;  // sources that refuse to move
  std::set<std::wstring> blockedTargets;
  bool startFails = false;
  std::vector<std::wstring> logs, startedPrograms;

  SwapSteps Steps() {
    SwapSteps s;
    s.move = [this](const std::wstring& from, const std::wstring& to, bool) {
      if (!files.count(from) || unmovable.count(from) || blockedTargets.count(to)) return false;
      files[to] = files[from];
      files.erase(from);
      return true;
    };
    s.remove = [this](const std::wstring& path) { files.erase(path); };
    s.start = [this](const std::wstring& program) {
      if (startFails) return false;
      startedPrograms.push_back(program);
      return true;
    };
    s.lastError = [] { return 32u; };
    s.log = [this](const std::wstring& line) { logs.push_back(line); };
    return s;
  }
};

constexpr wchar_t kWork[] = L"C:\\Oyun\\temp";
constexpr wchar_t kProgram[] = L"C:\\Oyun\\Sarvik.exe";
constexpr wchar_t kNew[] = L"C:\\Oyun\\temp\\Sarvik.exe.new";
constexpr wchar_t kOld[] = L"C:\\Oyun\\temp\\Sarvik.exe.old";
constexpr wchar_t kBeside[] = L"C:\\Oyun\\Sarvik.exe.old";

FakeDisk Prepared() {
  FakeDisk d;
  d.files = {{kProgram, "old"}, {kNew, "new"}, {kOld, "stale"}};
  return d;
}

TEST(SelfUpdateSwap, OldAsideNewInPlaceAndStarted) {
  FakeDisk d = Prepared();
  EXPECT_TRUE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  EXPECT_EQ(d.files, (std::map<std::wstring, std::string>{{kProgram, "new"}, {kOld, "old"}}));
  EXPECT_EQ(d.startedPrograms, std::vector<std::wstring>{kProgram});
  EXPECT_EQ(d.logs.back(), L"Patcher guncellendi, yeni surum baslatildi.");

  // The temp folder refuses the old file: it goes beside the program.
  d = Prepared();
  d.blockedTargets = {kOld};
  EXPECT_TRUE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  EXPECT_EQ(d.files.at(kBeside), "old");
  EXPECT_EQ(d.files.at(kProgram), "new");
}

TEST(SelfUpdateSwap, EveryFailureLeavesTheOldProgramInPlace) {
  FakeDisk d = Prepared();
  d.unmovable = {kProgram};
  EXPECT_FALSE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  EXPECT_EQ(d.files, (std::map<std::wstring, std::string>{{kProgram, "old"}}));
  EXPECT_EQ(d.logs, std::vector<std::wstring>{L"Kendini guncelleme: eski exe tasinamadi (32)"});

  d = Prepared();
  d.unmovable = {kNew};
  EXPECT_FALSE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  EXPECT_EQ(d.files.at(kProgram), "old");
  EXPECT_EQ(d.logs, std::vector<std::wstring>{L"Kendini guncelleme: yeni exe yerlestirilemedi (32)"});

  d = Prepared();
  d.startFails = true;
  EXPECT_FALSE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  EXPECT_EQ(d.files, (std::map<std::wstring, std::string>{{kProgram, "old"}}));
  EXPECT_EQ(d.logs, std::vector<std::wstring>{L"Yeni patcher baslatilamadi (32)"});
  EXPECT_TRUE(d.startedPrograms.empty());
}

}  // namespace
}  // namespace sv
