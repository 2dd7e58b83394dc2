// The self-update's rules: which address is an ".lz", when a fetched body may become the program
// file, the names the swap uses, and the signer rule for signed patchers.
#include "patcher/engine/self_update.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>

#include "common/crc32.h"
#include "common/text.h"
#include "tests/release/lz_test_util.h"

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

TEST(SelfUpdateRules, TheConfigurationWinsAndAListEntryOnlyWhenTheConfigurationNamesNone) {
  // The configuration names Y, the list names the program as X: they replaced each other.
  constexpr uint32_t X = 0x11111111, Y = 0x22222222;
  SelfUpdateFacts fromX;
  fromX.ownCrc = X;
  fromX.configNames = true;
  fromX.configCrc = Y;
  SelfUpdatePlan plan = PlanConfigurationUpdate(fromX);
  EXPECT_EQ(plan.route, SelfUpdateRoute::Configuration);
  EXPECT_EQ(plan.target, Y);
  EXPECT_TRUE(plan.logLines.empty());

  // Y runs: the configuration's build is its own; the list's X is never a target, said once.
  SelfUpdateFacts fromY = fromX;
  fromY.ownCrc = Y;
  EXPECT_EQ(PlanConfigurationUpdate(fromY).route, SelfUpdateRoute::None);
  fromY.listNames = true;
  fromY.listCrc = X;
  plan = PlanFileListUpdate(fromY);
  EXPECT_EQ(plan.route, SelfUpdateRoute::None);
  ASSERT_EQ(plan.logLines.size(), 1u);
  EXPECT_EQ(plan.logLines[0], L"Kendini guncelleme: yapilandirma patcher icin 22222222, dosya "
                              L"listesi 11111111 diyor; yapilandirmadaki gecerli, listedeki "
                              L"kurulmaz.");
  // Agreeing places say nothing.
  fromY.listCrc = Y;
  EXPECT_TRUE(PlanFileListUpdate(fromY).logLines.empty());

  // Without a configured build the list's entry is the target.
  SelfUpdateFacts listOnly;
  listOnly.ownCrc = X;
  listOnly.listNames = true;
  listOnly.listCrc = Y;
  plan = PlanFileListUpdate(listOnly);
  EXPECT_EQ(plan.route, SelfUpdateRoute::FileList);
  EXPECT_EQ(plan.target, Y);
  listOnly.listCrc = X;
  EXPECT_EQ(PlanFileListUpdate(listOnly).route, SelfUpdateRoute::None);
  EXPECT_EQ(PlanConfigurationUpdate(listOnly).route, SelfUpdateRoute::None);
}

TEST(SelfUpdateRules, ARestartedPatcherAndAFailedBuildTakeNothing) {
  SelfUpdateFacts f;
  f.ownCrc = 1;
  f.configNames = true;
  f.configCrc = 2;
  f.restarted = true;
  SelfUpdatePlan plan = PlanConfigurationUpdate(f);
  EXPECT_EQ(plan.route, SelfUpdateRoute::None);
  ASSERT_EQ(plan.logLines.size(), 1u);
  EXPECT_EQ(plan.logLines[0], L"Kendini guncelleme: bu calisma bir kendini guncellemeden sonra "
                              L"basladi; 00000002 bu calismada alinmadi (dongu olmasin diye).");
  SelfUpdateFacts list;
  list.ownCrc = 1;
  list.listNames = true;
  list.listCrc = 3;
  list.restarted = true;
  EXPECT_EQ(PlanFileListUpdate(list).route, SelfUpdateRoute::None);

  f.restarted = false;
  f.failedKnown = true;
  f.failedCrc = 2;
  plan = PlanConfigurationUpdate(f);
  EXPECT_EQ(plan.route, SelfUpdateRoute::None);
  ASSERT_EQ(plan.logLines.size(), 1u);
  EXPECT_EQ(plan.logLines[0],
            L"Kendini guncelleme: 00000002 bu klasorde daha once baslayamadi; alinmadi.");
  f.failedCrc = 5;  // another build failed once: this one is taken
  EXPECT_EQ(PlanConfigurationUpdate(f).route, SelfUpdateRoute::Configuration);
}

FileSignature Signed(const char* cert, int32_t trust = 0, const char* subject = "S",
                     const char* key = "K") {
  FileSignature s;
  s.present = true;
  s.signerCert = cert;
  s.signerSubject = subject;
  s.signerKey = key;
  s.trust = trust;
  return s;
}

FileSignature Versioned(FileSignature s, uint64_t version) {
  s.versionKnown = true;
  s.fileVersion = version;
  return s;
}

constexpr int32_t kUntrustedRoot = int32_t(0x800B0109);

TEST(SelfUpdateRules, SignedPatcherTakesAValidSignatureOfTheSameSubject) {
  const FileSignature unsignedFile;
  // Not signed itself: the CRC rule alone, whatever the new file carries.
  EXPECT_EQ(DecideSigner(unsignedFile, unsignedFile), SignerVerdict::CrcOnly);
  EXPECT_EQ(DecideSigner(unsignedFile, Signed("B", 0, "T")), SignerVerdict::CrcOnly);

  const FileSignature running = Signed("A", kUntrustedRoot);
  EXPECT_EQ(DecideSigner(running, Signed("A")), SignerVerdict::Accepted);
  // An own root the system does not know does not refuse on its own.
  EXPECT_EQ(DecideSigner(running, Signed("A", kUntrustedRoot)), SignerVerdict::Accepted);
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x800B010A))), SignerVerdict::Accepted);
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x800B0101))), SignerVerdict::Accepted);
  // Another subject is refused, verified chain or not.
  EXPECT_EQ(DecideSigner(running, Signed("B", 0, "T")), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(running, Signed("B", kUntrustedRoot, "T", "K")), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(running, unsignedFile), SignerVerdict::Refused);
  // Changed after signing, or a signature that does not verify for any other reason.
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x80096010))), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x800B0004))), SignerVerdict::Refused);
  EXPECT_EQ(DecideSigner(running, Signed("A", int32_t(0x80096004))), SignerVerdict::Refused);
  FileSignature noCert = Signed("");
  EXPECT_EQ(DecideSigner(running, noCert), SignerVerdict::Refused);
}

TEST(SelfUpdateRules, ARenewedCertificateOfTheSameSubjectIsTaken) {
  // The exact certificate was pinned before: the operator's first renewal locked every signed
  // patcher out of its updates.
  const FileSignature running = Signed("A1", 0, "S", "K1");
  // Renewed by the same authority, with a new key: the verified chain vouches for the subject.
  EXPECT_EQ(DecideSigner(running, Signed("A2", 0, "S", "K2")), SignerVerdict::Accepted);
  // Renewed with the same key: taken even where the chain ends in an unknown root.
  EXPECT_EQ(DecideSigner(running, Signed("A1r", kUntrustedRoot, "S", "K1")),
            SignerVerdict::Accepted);
  // A certificate anyone can make with the same subject and another key proves nothing.
  std::wstring why;
  EXPECT_EQ(DecideSigner(running, Signed("X", kUntrustedRoot, "S", "K9"), &why),
            SignerVerdict::Refused);
  EXPECT_EQ(why, L"Kendini guncelleme: yeni exe ayni imzaci tarafindan gecerli imzali degil "
                 L"(sertifika zinciri dogrulanmadi ve anahtar baska), guncelleme atlandi.");
}

TEST(SelfUpdateRules, NeverALowerFileVersion) {
  const uint64_t v25 = uint64_t(2) << 48 | uint64_t(5) << 32;
  const uint64_t v26 = uint64_t(2) << 48 | uint64_t(6) << 32;
  const FileSignature running = Versioned(Signed("A"), v26);
  EXPECT_EQ(DecideSigner(running, Versioned(Signed("A"), v26)), SignerVerdict::Accepted);
  EXPECT_EQ(DecideSigner(running, Versioned(Signed("A"), v26 + 1)), SignerVerdict::Accepted);
  std::wstring why;
  EXPECT_EQ(DecideSigner(running, Versioned(Signed("A"), v25), &why), SignerVerdict::Refused);
  EXPECT_EQ(why, L"Kendini guncelleme: yeni exe surumu 2.5.0.0 bu patcherinkinden (2.6.0.0) "
                 L"dusuk, guncelleme atlandi.");
  EXPECT_EQ(DecideSigner(running, Signed("A")), SignerVerdict::Refused);  // no version at all
  // A running patcher without a version takes any.
  EXPECT_EQ(DecideSigner(Signed("A"), Versioned(Signed("A"), v25)), SignerVerdict::Accepted);

  // The version resource as the resource compiler writes it.
  uint8_t block[92] = {};
  const uint32_t words[] = {0xFEEF04BDu, 0x00010000u, 0x00020006u, 0x00030004u};
  for (int i = 0; i < 4; ++i) {
    for (int b = 0; b < 4; ++b) block[40 + 4 * i + b] = uint8_t(words[i] >> (8 * b));
  }
  uint64_t version = 0;
  ASSERT_TRUE(ParseFixedFileVersion(block, sizeof block, version));
  EXPECT_EQ(FormatFileVersion(version), L"2.6.3.4");
  EXPECT_FALSE(ParseFixedFileVersion(block, 40, version));
}

// A disk as Windows treats program files: a move honours the replace and copy flags (another
// volume needs the copy flag, and that copy is not atomic), a running program's file may be
// renamed but not replaced or deleted, a read-only file is neither replaced nor deleted. Every
// change is one step; `killAt` ends the swap (throws) before that step, as a kill would.
struct Killed {};

struct FakeDisk {
  std::map<std::wstring, std::string> files;
  std::set<std::wstring> running, readOnly, unmovable;
  std::set<std::string> junk;  // contents that are no program
  int steps = 0, killAt = -1;
  uint32_t error = 0;
  // The old patcher ends after the helper has waited this many pauses for it.
  int pausesUntilExit = 3;
  std::vector<std::wstring> logs;
  std::vector<std::pair<std::wstring, std::wstring>> started;

  void Step() {
    if (steps++ == killAt) throw Killed{};
  }
  bool Fail(uint32_t code) {
    error = code;
    return false;
  }
  static std::wstring Volume(const std::wstring& p) { return p.substr(0, 2); }
  bool move(const std::wstring& from, const std::wstring& to, bool replace, bool allowCopy) {
    if (!files.count(from)) return Fail(2);
    if (unmovable.count(from)) return Fail(32);
    if (files.count(to)) {
      if (!replace) return Fail(183);
      if (running.count(to) || readOnly.count(to)) return Fail(5);
    }
    if (Volume(from) != Volume(to)) {
      if (!allowCopy) return Fail(17);
      // Copied, then the source deleted: a kill in between leaves half a file.
      Step();
      files[to] = files[from].substr(0, files[from].size() / 2);
      Step();
      files[to] = files[from];
      Step();
      files.erase(from);
      return true;
    }
    Step();
    files[to] = files[from];
    files.erase(from);
    if (running.erase(from)) running.insert(to);
    if (readOnly.erase(from)) readOnly.insert(to);
    return true;
  }
  SwapSteps Steps() {
    SwapSteps s;
    s.move = [this](const std::wstring& from, const std::wstring& to, bool replace,
                    bool allowCopy) { return move(from, to, replace, allowCopy); };
    s.copy = [this](const std::wstring& from, const std::wstring& to) {
      if (!files.count(from)) return Fail(2);
      if (files.count(to)) return Fail(80);
      Step();
      files[to] = files[from].substr(0, files[from].size() / 2);
      Step();
      files[to] = files[from];
      if (readOnly.count(from)) readOnly.insert(to);
      return true;
    };
    s.remove = [this](const std::wstring& path) {
      readOnly.erase(path);
      if (!files.count(path) || running.count(path)) return;
      Step();
      files.erase(path);
    };
    s.clearReadOnly = [this](const std::wstring& path) {
      readOnly.erase(path);
      return files.count(path) > 0;
    };
    s.exists = [this](const std::wstring& path) { return files.count(path) > 0; };
    s.read = [this](const std::wstring& path, std::string& bytes) {
      if (!files.count(path)) return false;
      bytes = files[path];
      return true;
    };
    s.write = [this](const std::wstring& path, const std::string& bytes) {
      Step();
      files[path] = bytes;
      return true;
    };
    s.start = [this](const std::wstring& program, const std::wstring& arguments) {
      if (!files.count(program)) return Fail(2);
      if (junk.count(files[program])) return Fail(193);
      Step();
      started.emplace_back(program, arguments);
      return true;
    };
    s.sleep = [this](uint32_t) {
      if (--pausesUntilExit == 0) running.erase(kProgramPath());
    };
    s.lastError = [this] { return error; };
    s.log = [this](const std::wstring& line) { logs.push_back(line); };
    return s;
  }
  static std::wstring kProgramPath() { return L"C:\\Oyun\\Sarvik.exe"; }
};

constexpr wchar_t kWork[] = L"C:\\Oyun\\temp";
constexpr wchar_t kProgram[] = L"C:\\Oyun\\Sarvik.exe";
constexpr wchar_t kNew[] = L"C:\\Oyun\\temp\\Sarvik.exe.new";
constexpr wchar_t kOld[] = L"C:\\Oyun\\temp\\Sarvik.exe.old";
constexpr wchar_t kBeside[] = L"C:\\Oyun\\Sarvik.exe.old";
constexpr wchar_t kHelper[] = L"C:\\Oyun\\temp\\Sarvik.exe.swap";
constexpr wchar_t kFailed[] = L"C:\\Oyun\\temp\\Sarvik.exe.failed";

// The old patcher running from the program file, the new build downloaded beside the work files.
FakeDisk Prepared() {
  FakeDisk d;
  d.files = {{kProgram, "old build"}, {kNew, "new build"}, {kOld, "stale"}};
  d.running = {kProgram};
  d.junk = {"junk"};
  return d;
}

// What the helper process does with the arguments it was started with.
int RunStartedHelper(FakeDisk& d, size_t index) {
  const auto [image, arguments] = d.started.at(index);  // a copy: starts add to the list
  std::vector<std::wstring> args;
  std::wstring current;
  bool quoted = false;
  for (wchar_t c : arguments + L" ") {
    if (c == L'"') {
      quoted = !quoted;
    } else if (c == L' ' && !quoted) {
      if (!current.empty()) args.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  d.running.insert(image);
  const int code = RunSwapHelper(ParseSwapArguments(args), d.Steps());
  d.running.erase(image);
  return code;
}

TEST(SelfUpdateSwap, ThePreviousBuildIsCopiedAsideAndTheHelperPutsTheNewOneInPlace) {
  FakeDisk d = Prepared();
  ASSERT_TRUE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  // The running patcher's own file is untouched; the previous build is a whole copy.
  EXPECT_EQ(d.files.at(kProgram), "old build");
  EXPECT_EQ(d.files.at(kOld), "old build");
  ASSERT_EQ(d.started.size(), 1u);
  EXPECT_EQ(d.started[0].first, kOld);
  EXPECT_EQ(d.started[0].second,
            L"--sv-swap \"C:\\Oyun\\Sarvik.exe\" \"C:\\Oyun\\temp\\Sarvik.exe.new\" --sv-keep "
            L"\"C:\\Oyun\\temp\\Sarvik.exe.old\"");
  // The old patcher ends; the helper waits for that, then renames the new file into place.
  EXPECT_EQ(RunStartedHelper(d, 0), 0);
  EXPECT_EQ(d.files.at(kProgram), "new build");
  EXPECT_FALSE(d.files.count(kNew));
  EXPECT_EQ(d.files.at(kOld), "old build");  // kept until the new one has shown it runs
  ASSERT_EQ(d.started.size(), 2u);
  EXPECT_EQ(d.started[1], (std::pair<std::wstring, std::wstring>{kProgram, L"--sv-updated"}));
  EXPECT_EQ(d.logs.back(), L"Patcher guncellendi, yeni surum baslatildi.");
}

TEST(SelfUpdateSwap, ReadOnlyProgramLeavesNothingUndeletable) {
  FakeDisk d = Prepared();
  d.readOnly = {kProgram, kOld};
  ASSERT_TRUE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  EXPECT_FALSE(d.readOnly.count(kOld)) << "the copy kept the read-only attribute";
  EXPECT_EQ(RunStartedHelper(d, 0), 0);
  EXPECT_EQ(d.files.at(kProgram), "new build");

}

TEST(SelfUpdateSwap, NothingChangesWhenThePreviousBuildCannotBeKeptOrTheHelperNotStarted) {
  FakeDisk d = Prepared();
  d.files.erase(kNew);  // nothing downloaded: nothing to swap
  EXPECT_FALSE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  EXPECT_TRUE(d.started.empty());

  FakeDisk noCopy = Prepared();
  auto steps = noCopy.Steps();
  steps.copy = [&noCopy](const std::wstring&, const std::wstring&) { return noCopy.Fail(5); };
  EXPECT_FALSE(SwapInNewPatcher(kWork, kProgram, steps));
  EXPECT_EQ(noCopy.files.at(kProgram), "old build");
  EXPECT_FALSE(noCopy.files.count(kNew));
  EXPECT_EQ(noCopy.logs.back(), L"Kendini guncelleme: eski exe yedeklenemedi (5)");

  FakeDisk noStart = Prepared();
  noStart.junk = {"old build"};  // the copy cannot be started as the helper
  EXPECT_FALSE(SwapInNewPatcher(kWork, kProgram, noStart.Steps()));
  EXPECT_EQ(noStart.files.at(kProgram), "old build");
  EXPECT_FALSE(noStart.files.count(kOld));
  EXPECT_FALSE(noStart.files.count(kNew));
}

TEST(SelfUpdateSwap, AWorkFolderOnAnotherVolumeIsStagedBesideTheProgram) {
  FakeDisk d = Prepared();
  const std::wstring work = L"D:\\Gecici";
  const std::wstring fresh = L"D:\\Gecici\\Sarvik.exe.new";
  d.files = {{kProgram, "old build"}, {fresh, "new build"}};
  ASSERT_TRUE(SwapInNewPatcher(work, kProgram, d.Steps()));
  EXPECT_EQ(RunStartedHelper(d, 0), 0);
  EXPECT_EQ(d.files.at(kProgram), "new build");
  EXPECT_FALSE(d.files.count(fresh));
  EXPECT_FALSE(d.files.count(SelfUpdateStagedPath(kProgram)));
}

TEST(SelfUpdateSwap, EveryKillPointLeavesAWholeRunnableProgram) {
  // The swap is killed before each of its steps, in the old patcher and in the helper; the
  // program file is then always the whole previous build or the whole new one, and the next
  // start of it finds what it needs (the previous build kept while the new one is unproven).
  int points = 0;
  for (int kill = 0;; ++kill) {
    FakeDisk d = Prepared();
    d.killAt = kill;
    bool finished = false;
    try {
      if (SwapInNewPatcher(kWork, kProgram, d.Steps())) {
        d.running.erase(kProgram);  // the old patcher ends
        RunStartedHelper(d, 0);
      }
      finished = true;
    } catch (const Killed&) {
    }
    if (finished) break;
    ++points;
    ASSERT_TRUE(d.files.count(kProgram)) << "no program file after a kill at step " << kill;
    const std::string& program = d.files.at(kProgram);
    EXPECT_TRUE(program == "old build" || program == "new build")
        << "kill at step " << kill << " left \"" << program << "\"";
    if (program == "new build") {
      EXPECT_EQ(d.files.count(kOld) ? d.files.at(kOld) : "", "old build") << kill;
    }
    if (d.files.count(kOld) && program == "old build") {
      // A whole copy or a stale one; a cut copy only ever lies under the ".part" name.
      EXPECT_TRUE(d.files.at(kOld) == "old build" || d.files.at(kOld) == "stale") << kill;
    }
  }
  EXPECT_GE(points, 6);
}

TEST(SelfUpdateSwap, ANewBuildThatCannotStartGivesThePreviousOneBackOnce) {
  FakeDisk d = Prepared();
  d.files[kNew] = "junk";
  ASSERT_TRUE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  d.running.erase(kProgram);
  EXPECT_EQ(RunStartedHelper(d, 0), 1);
  EXPECT_EQ(d.files.at(kProgram), "old build");
  ASSERT_EQ(d.started.size(), 2u);
  EXPECT_EQ(d.started[1], (std::pair<std::wstring, std::wstring>{kProgram, L"--sv-updated"}));
  uint32_t failed = 0;
  ASSERT_TRUE(d.files.count(kFailed));
  EXPECT_TRUE(ParseHex32(trim(d.files.at(kFailed)), failed));
  EXPECT_EQ(failed, Crc32("junk", 4));
}

TEST(SelfUpdateSwap, APatcherWhoseSkinOrWindowFailsPutsThePreviousBuildBack) {
  // The new build runs from the program file and the previous one is kept.
  FakeDisk d;
  d.files = {{kProgram, "new build"}, {kOld, "old build"}};
  d.running = {kProgram};
  ASSERT_TRUE(RestorePreviousPatcher(kWork, kProgram, d.Steps()));
  ASSERT_EQ(d.started.size(), 1u);
  EXPECT_EQ(d.started[0].first, kHelper);
  EXPECT_EQ(d.files.at(kHelper), "new build");
  uint32_t failed = 0;
  EXPECT_TRUE(ParseHex32(trim(d.files.at(kFailed)), failed));
  EXPECT_EQ(failed, Crc32("new build", 9));
  // The failing patcher ends; the helper puts the previous build back and starts it, in a run
  // that takes no other build.
  d.running.erase(kProgram);
  EXPECT_EQ(RunStartedHelper(d, 0), 0);
  EXPECT_EQ(d.files.at(kProgram), "old build");
  ASSERT_EQ(d.started.size(), 2u);
  EXPECT_EQ(d.started[1], (std::pair<std::wstring, std::wstring>{kProgram, L"--sv-updated"}));

  // The same build again (an older patcher took it again): back without a start, once.
  FakeDisk again;
  again.files = {{kProgram, "new build"}, {kBeside, "old build"}, {kFailed, "7a7e0a23\r\n"}};
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08x\r\n", unsigned(Crc32("new build", 9)));
  again.files[kFailed] = hex;
  ASSERT_TRUE(RestorePreviousPatcher(kWork, kProgram, again.Steps()));
  EXPECT_NE(again.started[0].second.find(L"--sv-no-start"), std::wstring::npos);
  EXPECT_EQ(RunStartedHelper(again, 0), 0);
  EXPECT_EQ(again.files.at(kProgram), "old build");
  EXPECT_EQ(again.started.size(), 1u);

  // Nothing kept: nothing to put back.
  FakeDisk alone;
  alone.files = {{kProgram, "new build"}};
  EXPECT_FALSE(RestorePreviousPatcher(kWork, kProgram, alone.Steps()));
  EXPECT_TRUE(alone.started.empty());
}

TEST(SelfUpdateSwap, TheHelperWaitsForTheOldPatcherThenGivesItBackWhenTheFileStaysHeld) {
  FakeDisk d = Prepared();
  ASSERT_TRUE(SwapInNewPatcher(kWork, kProgram, d.Steps()));
  d.pausesUntilExit = 1000000;  // the old patcher never lets go
  EXPECT_EQ(RunStartedHelper(d, 0), 1);
  EXPECT_EQ(d.files.at(kProgram), "old build");
  EXPECT_FALSE(d.files.count(kNew));
  // The player is not left without a patcher: the one in place starts again.
  ASSERT_EQ(d.started.size(), 2u);
  EXPECT_EQ(d.started[1], (std::pair<std::wstring, std::wstring>{kProgram, L"--sv-updated"}));
}

TEST(SelfUpdateSwap, HelperArgumentsRoundTripAndBadOnesAreRefused) {
  SwapRequest r;
  r.program = L"C:\\Oyun Klasörü\\Sarvik.exe";
  r.source = L"C:\\Oyun Klasörü\\temp\\Sarvik.exe.new";
  r.keep = L"C:\\Oyun Klasörü\\temp\\Sarvik.exe.old";
  r.start = false;
  std::vector<std::wstring> args{L"--sv-swap", r.program, r.source, L"--sv-keep", r.keep,
                                 L"--sv-no-start"};
  SwapRequest back = ParseSwapArguments(args);
  EXPECT_TRUE(back.valid);
  EXPECT_EQ(back.program, r.program);
  EXPECT_EQ(back.source, r.source);
  EXPECT_EQ(back.keep, r.keep);
  EXPECT_FALSE(back.start);
  EXPECT_EQ(SwapHelperArguments(r),
            L"--sv-swap \"" + r.program + L"\" \"" + r.source + L"\" --sv-keep \"" + r.keep +
                L"\" --sv-no-start");
  EXPECT_FALSE(ParseSwapArguments({L"--sv-swap", r.program}).valid);
  EXPECT_FALSE(ParseSwapArguments({L"--sv-swap", L"Sarvik.exe", r.source}).valid);
  EXPECT_FALSE(ParseSwapArguments({L"--sv-swap", r.program, r.program}).valid);
  EXPECT_FALSE(ParseSwapArguments({L"--sv-swap", r.program, r.source, L"--other"}).valid);
  EXPECT_TRUE(ParseSwapArguments({L"x", L"--sv-swap", L"/g/Sarvik.exe", L"/g/temp/a"}).valid);
}

}  // namespace
}  // namespace sv
