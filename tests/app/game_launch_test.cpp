// Game launch decisions with the Windows calls injected: the refusals Wine never gives (740
// needs elevation, 1223 the prompt was declined) are shown here; 193 and a missing file are
// also met for real in the window tests under Wine.
#include <gtest/gtest.h>

#include <deque>
#include <set>

#include "patcher/app/game_launch.h"
#include "skin/locale_table.h"

namespace sv {
namespace {

struct Call {
  std::wstring kind, verb, file, line, folder;
};

class ScriptedHost : public LaunchHost {
public:
  bool CreateProgramProcess(const std::wstring& fullPath, const std::wstring& commandLine,
                            const std::wstring& folder, uint32_t& errorOut) override {
    calls.push_back({L"create", L"", fullPath, commandLine, folder});
    return Answer(errorOut);
  }
  bool ShellRun(const std::wstring& verb, const std::wstring& file, const std::wstring& parameters,
                const std::wstring& folder, uint32_t& errorOut) override {
    calls.push_back({L"shell", verb, file, parameters, folder});
    return Answer(errorOut);
  }
  bool FileExists(const std::wstring& path) override { return files.count(path) > 0; }
  bool ShowBox(const std::wstring& text, BoxKind kind) override {
    boxes.push_back(text);
    boxKinds.push_back(kind);
    return retry;
  }
  void CloseWindow() override { ++closes; }
  std::wstring ProgramPath() override { return L"C:\\Oyun\\Sarvik.exe"; }

  // Each OS call takes the next answer: 0 succeeds, anything else fails with that code.
  bool Answer(uint32_t& errorOut) {
    uint32_t code = answers.empty() ? 0 : answers.front();
    if (!answers.empty()) answers.pop_front();
    if (code == 0) return true;
    errorOut = code;
    return false;
  }

  std::deque<uint32_t> answers;
  std::set<std::wstring> files;
  std::vector<Call> calls;
  std::vector<std::wstring> boxes;
  std::vector<BoxKind> boxKinds;
  bool retry = false;
  int closes = 0;
};

const std::wstring kFolder = L"C:\\Oyun";

TEST(LaunchProgram, StartsWithQuotedPathAndArguments) {
  ScriptedHost host;
  uint32_t error = 99;
  EXPECT_EQ(LaunchProgram(host, kFolder, L"bin\\Oyun.exe", L"-fast 1", error), kLaunchStarted);
  EXPECT_EQ(error, 0u);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].file, L"C:\\Oyun\\bin\\Oyun.exe");
  EXPECT_EQ(host.calls[0].line, L"\"C:\\Oyun\\bin\\Oyun.exe\" -fast 1");
  EXPECT_EQ(host.calls[0].folder, kFolder);
  EXPECT_EQ(ProgramCommandLine(L"C:\\a b\\x.exe", L""), L"\"C:\\a b\\x.exe\"");
}

TEST(LaunchProgram, ElevationForAProgramGoesStraightToRunas) {
  ScriptedHost host;
  host.answers = {kErrorElevationRequired, 0};
  uint32_t error = 0;
  EXPECT_EQ(LaunchProgram(host, kFolder, L"Oyun.EXE", L"-a", error), kLaunchStarted);
  ASSERT_EQ(host.calls.size(), 2u);
  EXPECT_EQ(host.calls[1].verb, L"runas");
  EXPECT_EQ(host.calls[1].file, L"C:\\Oyun\\Oyun.EXE");  // capital extension counts
  EXPECT_EQ(host.calls[1].line, L"-a");
  EXPECT_EQ(host.calls[1].folder, kFolder);
}

TEST(LaunchProgram, ElevationForAnotherFileGoesThroughAnElevatedPatcher) {
  ScriptedHost host;
  host.answers = {kErrorElevationRequired, 0};
  uint32_t error = 0;
  EXPECT_EQ(LaunchProgram(host, kFolder, L"tools\\baslat.bat", L"-x 2", error), kLaunchStarted);
  ASSERT_EQ(host.calls.size(), 2u);
  EXPECT_EQ(host.calls[1].verb, L"runas");
  EXPECT_EQ(host.calls[1].file, L"C:\\Oyun\\Sarvik.exe");
  EXPECT_EQ(host.calls[1].line, L"--sv-run \"tools\\baslat.bat\" -x 2");
  EXPECT_EQ(SwitchRunParameters(L"a b.cmd", L""), L"--sv-run \"a b.cmd\"");
}

TEST(LaunchProgram, DeclinedPromptIsARefusalOtherFailuresFail) {
  ScriptedHost host;
  uint32_t error = 0;
  host.answers = {kErrorElevationRequired, kErrorCancelled};
  EXPECT_EQ(LaunchProgram(host, kFolder, L"Oyun.exe", L"", error), kLaunchRefused);
  EXPECT_EQ(error, kErrorCancelled);
  host.answers = {kErrorElevationRequired, 5};
  EXPECT_EQ(LaunchProgram(host, kFolder, L"Oyun.exe", L"", error), kLaunchFailed);
  EXPECT_EQ(error, 5u);
  host.calls.clear();
  host.answers = {5};  // access denied is not retried through the shell
  EXPECT_EQ(LaunchProgram(host, kFolder, L"Oyun.exe", L"", error), kLaunchFailed);
  EXPECT_EQ(host.calls.size(), 1u);
}

TEST(LaunchProgram, NotAProgramIsOpenedWithItsApplication) {
  ScriptedHost host;
  host.answers = {kErrorBadExeFormat, 0};
  uint32_t error = 0;
  EXPECT_EQ(LaunchProgram(host, kFolder, L"oku.txt", L"", error), kLaunchStarted);
  ASSERT_EQ(host.calls.size(), 2u);
  EXPECT_EQ(host.calls[1].verb, L"open");
  EXPECT_EQ(host.calls[1].file, L"C:\\Oyun\\oku.txt");
  host.answers = {kErrorBadExeFormat, kErrorFileNotFound};
  EXPECT_EQ(LaunchProgram(host, kFolder, L"oku.txt", L"", error), kLaunchFailed);
}

class StartGameTest : public ::testing::Test {
protected:
  StartGameTest() {
    request.startEnabled = true;
    request.gameFolder = kFolder;
    request.runPath = L"bin/Oyun.exe";
    request.arguments = L"-w";
    request.closeOnStart = true;
    host.files.insert(L"C:\\Oyun\\bin\\Oyun.exe");
  }
  ScriptedHost host;
  GameStartRequest request;
  LocaleTable locale;
};

TEST_F(StartGameTest, StartsAndClosesOnlyWhenAsked) {
  EXPECT_EQ(StartGame(host, request, locale), kLaunchStarted);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].line, L"\"C:\\Oyun\\bin\\Oyun.exe\" -w");
  EXPECT_EQ(host.closes, 1);
  request.closeOnStart = false;
  EXPECT_EQ(StartGame(host, request, locale), kLaunchStarted);
  EXPECT_EQ(host.closes, 1);
  EXPECT_TRUE(host.boxes.empty());
}

TEST_F(StartGameTest, NothingWhileDisabledOrInPreview) {
  request.startEnabled = false;
  EXPECT_EQ(StartGame(host, request, locale), -1);
  EXPECT_TRUE(host.boxes.empty());
  request.startEnabled = true;
  request.preview = true;
  EXPECT_EQ(StartGame(host, request, locale), -1);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], L"Önizleme modunda oyun başlatılmaz.");
  EXPECT_EQ(host.boxKinds[0], BoxKind::Information);
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(StartGameTest, UnsafeOrEmptyRunPathsStartNothing) {
  for (const wchar_t* bad : {L"", L"..\\Oyun.exe", L"bin/../../x.exe", L"C:\\Windows\\x.exe",
                             L"con.exe", L"lpt1", L"/etc/x"}) {
    host.boxes.clear();
    request.runPath = bad;
    EXPECT_EQ(StartGame(host, request, locale), -1) << bad;
    ASSERT_EQ(host.boxes.size(), 1u) << bad;
    // An empty run_path is the configuration's fault, and the box says where to fix it.
    EXPECT_EQ(host.boxes[0], locale.text("RUN_PATH_EMPTY") +
                                 (*bad ? L"" : L"\n(draskeltorrent.config.xml: run_path boş)"));
    EXPECT_EQ(host.boxKinds[0], BoxKind::Warning);
  }
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(StartGameTest, MissingFileNamesTheFullPath) {
  request.runPath = L"yok.exe";
  EXPECT_EQ(StartGame(host, request, locale), -1);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], locale.text("CREATE_PROCESS_ERROR_2") + L"\nC:\\Oyun\\yok.exe");
  EXPECT_TRUE(host.calls.empty());
}

TEST_F(StartGameTest, RefusalIsSilentFailureShowsTheSystemText) {
  host.answers = {kErrorElevationRequired, kErrorCancelled};
  EXPECT_EQ(StartGame(host, request, locale), kLaunchRefused);
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(host.closes, 0);
  host.answers = {5};
  EXPECT_EQ(StartGame(host, request, locale), kLaunchFailed);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].rfind(locale.text("ERROR_EXECUTE_PROCESS") + L"\n", 0), 0u);
  EXPECT_GT(host.boxes[0].size(), locale.text("ERROR_EXECUTE_PROCESS").size() + 1);
  EXPECT_EQ(host.boxKinds[0], BoxKind::Error);
  EXPECT_EQ(host.closes, 0);
}

TEST_F(StartGameTest, ExtraProgramsStartWithoutArgumentsAndKeepThePatcher) {
  host.files.insert(L"C:\\Oyun\\config.exe");
  EXPECT_EQ(RunExtraProgram(host, kFolder, L"config.exe", locale), kLaunchStarted);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].line, L"\"C:\\Oyun\\config.exe\"");
  EXPECT_EQ(host.closes, 0);
  EXPECT_EQ(RunExtraProgram(host, kFolder, L"..\\evil.exe", locale), -1);
  EXPECT_TRUE(host.boxes.empty());  // an unsafe program path is ignored without a box
  EXPECT_EQ(RunExtraProgram(host, kFolder, L"yok.exe", locale), -1);
  EXPECT_EQ(host.boxes.size(), 1u);
}

TEST(RunEnd, AutoStartRetryQuestionAndItsExceptions) {
  EXPECT_EQ(DecideRunEnd(true, true, false, false, false, false), RunEndStep::StartGame);
  EXPECT_EQ(DecideRunEnd(true, true, true, false, false, false), RunEndStep::Nothing);  // preview
  EXPECT_EQ(DecideRunEnd(true, false, false, false, false, false), RunEndStep::Nothing);
  EXPECT_EQ(DecideRunEnd(false, true, false, false, false, false), RunEndStep::AskRetry);
  EXPECT_EQ(DecideRunEnd(false, false, false, true, false, false), RunEndStep::Nothing);
  EXPECT_EQ(DecideRunEnd(false, false, false, false, true, false), RunEndStep::Nothing);
  EXPECT_EQ(DecideRunEnd(false, false, false, false, false, true), RunEndStep::Nothing);
  LocaleTable locale;
  EXPECT_EQ(RetryQuestion(locale, L"Sunucuya bağlanılamadı."),
            locale.format("SV_RETRY", {L"Sunucuya bağlanılamadı."}));
  EXPECT_NE(RetryQuestion(locale, L"").find(locale.text("FAILED_DOWNLOAD_FILE")),
            std::wstring::npos);
}

TEST(SwitchRun, CommandLineTokens) {
  std::wstring path, args;
  ASSERT_TRUE(ParseSwitchRunCommandLine(
      L"\"C:\\Oyun Dizini\\Sarvik.exe\" --sv-run \"bin\\Oyun Başlat.exe\"   -w  -x \"a b\"  ",
      path, args));
  EXPECT_EQ(path, L"bin\\Oyun Başlat.exe");
  EXPECT_EQ(args, L"-w  -x \"a b\"");
  ASSERT_TRUE(ParseSwitchRunCommandLine(L"Sarvik.exe --sv-run game.exe", path, args));
  EXPECT_EQ(path, L"game.exe");
  EXPECT_EQ(args, L"");
  EXPECT_FALSE(ParseSwitchRunCommandLine(L"Sarvik.exe --SV-RUN game.exe", path, args));
  EXPECT_FALSE(ParseSwitchRunCommandLine(L"Sarvik.exe --sv-run", path, args));
  EXPECT_FALSE(ParseSwitchRunCommandLine(L"Sarvik.exe --sv-run \"\"", path, args));
}

TEST(SwitchRun, StartsOrShowsTheSystemError) {
  ScriptedHost host;
  host.files.insert(L"C:\\Oyun\\bin\\x.bat");
  EXPECT_EQ(RunSwitchMode(host, kFolder, L"S.exe --sv-run \"bin\\x.bat\" -q"), kLaunchStarted);
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].line, L"\"C:\\Oyun\\bin\\x.bat\" -q");
  EXPECT_TRUE(host.boxes.empty());

  EXPECT_EQ(RunSwitchMode(host, kFolder, L"S.exe --sv-run yok.exe"), kLaunchFailed);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0].rfind(L"Oyun başlatılamadı:\nC:\\Oyun\\yok.exe\n\n", 0), 0u);
  EXPECT_EQ(host.calls.size(), 1u);  // a missing file is not tried

  host.calls.clear();
  EXPECT_EQ(RunSwitchMode(host, kFolder, L"S.exe --sv-run ..\\..\\x.exe"), kLaunchFailed);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(host.boxes.size(), 1u);  // an unsafe path does nothing at all
}

}  // namespace
}  // namespace sv
