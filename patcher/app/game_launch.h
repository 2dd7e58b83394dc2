#pragma once
// Starting the game or another program of the game folder: the run-path checks, the answers to
// the two refusals Windows gives in practice (740: needs administrator rights, 193: not a
// program), the elevated "--sv-run" patcher, and what follows the end of an update run. The OS
// calls go through LaunchHost, so every decision here also runs natively and with injected
// refusals that Wine never produces.
#include <cstdint>
#include <string>
#include <string_view>

namespace sv {

class LocaleTable;

enum LaunchResult : int32_t { kLaunchStarted = 0, kLaunchRefused = 1, kLaunchFailed = 2 };

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorBadExeFormat = 193;
constexpr uint32_t kErrorElevationRequired = 740;
constexpr uint32_t kErrorCancelled = 1223;

enum class BoxKind { Information, Warning, Error, RetryCancel };

class LaunchHost {
public:
  virtual ~LaunchHost() = default;
  // CreateProcessW of the program with the quoted command line; the handles are closed at once.
  virtual bool CreateProgramProcess(const std::wstring& fullPath, const std::wstring& commandLine,
                                    const std::wstring& folder, uint32_t& errorOut) = 0;
  // ShellExecuteExW without error UI; `parameters` may be empty.
  virtual bool ShellRun(const std::wstring& verb, const std::wstring& file,
                        const std::wstring& parameters, const std::wstring& folder,
                        uint32_t& errorOut) = 0;
  virtual bool FileExists(const std::wstring& path) = 0;
  // True for the retry button of a retry box; other boxes have only OK.
  virtual bool ShowBox(const std::wstring& text, BoxKind kind) = 0;
  // Posts WM_CLOSE to the main window.
  virtual void CloseWindow() = 0;
  // The patcher's own program file.
  virtual std::wstring ProgramPath() = 0;
};

// "\"<full path>\"", then a space and the arguments when there are any.
std::wstring ProgramCommandLine(const std::wstring& fullPath, const std::wstring& arguments);
// What an elevated patcher is given to start a program: "--sv-run \"<relative>\" [arguments]".
std::wstring SwitchRunParameters(const std::wstring& relativePath, const std::wstring& arguments);
// True for a name ending in ".exe" in any case.
bool HasExeExtension(const std::wstring& path);
// The run path as a safe full path inside the game folder; false for an empty path or one with
// "..", a drive, a device name or other names the file-list rules refuse.
bool ResolveRunPath(const std::wstring& gameFolder, const std::wstring& runPath,
                    std::wstring& safeRelativeOut, std::wstring& fullPathOut);

// Starts `relativePath` from the game folder; see LaunchResult. errorOut gets the Windows code.
int32_t LaunchProgram(LaunchHost& host, const std::wstring& gameFolder,
                      const std::wstring& relativePath, const std::wstring& arguments,
                      uint32_t& errorOut);

struct GameStartRequest {
  bool startEnabled = false;
  bool preview = false;
  std::wstring gameFolder;
  std::wstring runPath;    // from the engine: the configuration's, else the remembered one
  std::wstring arguments;  // the skin settings' run arguments
  bool closeOnStart = false;
};
// The START action; returns the launch result, or -1 when nothing was tried.
int32_t StartGame(LaunchHost& host, const GameStartRequest& request, const LocaleTable& locale);
// A skin button's program (or "config.exe"); the patcher stays open whatever happens.
int32_t RunExtraProgram(LaunchHost& host, const std::wstring& gameFolder,
                        const std::wstring& relativePath, const LocaleTable& locale);

enum class RunEndStep { Nothing, StartGame, AskRetry };
// What follows the end of a run: an automatic start after success (never in preview), the retry
// question after a failure unless elevation was asked, the window is closing or the player
// stopped the run at the in-use question.
RunEndStep DecideRunEnd(bool success, bool autoStart, bool preview, bool elevationAsked,
                        bool closing, bool stoppedInUse);
// The retry question's text for the run's error (a generic download failure when it has none).
std::wstring RetryQuestion(const LocaleTable& locale, const std::wstring& errorText);

// Splits a "--sv-run" command line: program, switch, quoted relative path, then the rest
// (trimmed) as the arguments. False unless the switch is exactly "--sv-run" and a path follows.
bool ParseSwitchRunCommandLine(std::wstring_view commandLine, std::wstring& relativePathOut,
                               std::wstring& argumentsOut);
// The life of an elevated "--sv-run" patcher: starts the program from the game folder, shows an
// error box (no owner) when it cannot, and returns the exit code (0 started).
int32_t RunSwitchMode(LaunchHost& host, const std::wstring& gameFolder,
                      std::wstring_view commandLine);

}  // namespace sv
