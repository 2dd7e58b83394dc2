#include "patcher/app/game_launch.h"

#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/log.h"
#include "skin/locale_table.h"

namespace sv {

namespace {

bool IsSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

// One token of a command line: a double-quoted run (quotes removed) or text up to white space.
std::wstring_view NextToken(std::wstring_view& rest, std::wstring& tokenOut) {
  size_t i = 0;
  while (i < rest.size() && IsSpace(rest[i])) ++i;
  tokenOut.clear();
  if (i < rest.size() && rest[i] == L'"') {
    size_t end = rest.find(L'"', i + 1);
    if (end == std::wstring_view::npos) end = rest.size();
    tokenOut.assign(rest.substr(i + 1, end - i - 1));
    rest = end < rest.size() ? rest.substr(end + 1) : std::wstring_view();
  } else {
    size_t end = i;
    while (end < rest.size() && !IsSpace(rest[end])) ++end;
    tokenOut.assign(rest.substr(i, end - i));
    rest = rest.substr(end);
  }
  return rest;
}

}  // namespace

std::wstring ProgramCommandLine(const std::wstring& fullPath, const std::wstring& arguments) {
  std::wstring line = L"\"" + fullPath + L"\"";
  if (!arguments.empty()) line += L" " + arguments;
  return line;
}

std::wstring SwitchRunParameters(const std::wstring& relativePath, const std::wstring& arguments) {
  std::wstring parameters = L"--sv-run \"" + relativePath + L"\"";
  if (!arguments.empty()) parameters += L" " + arguments;
  return parameters;
}

bool HasExeExtension(const std::wstring& path) {
  return path.size() >= 4 && toLowerWide(path.substr(path.size() - 4)) == L".exe";
}

bool ResolveRunPath(const std::wstring& gameFolder, const std::wstring& runPath,
                    std::wstring& safeRelativeOut, std::wstring& fullPathOut) {
  if (runPath.empty() || !makeSafeRelativePath(toUtf8(runPath), safeRelativeOut)) return false;
  fullPathOut = joinPath(gameFolder, safeRelativeOut);
  return true;
}

int32_t LaunchProgram(LaunchHost& host, const std::wstring& gameFolder,
                      const std::wstring& relativePath, const std::wstring& arguments,
                      uint32_t& errorOut) {
  const std::wstring fullPath = joinPath(gameFolder, relativePath);
  errorOut = 0;
  if (host.CreateProgramProcess(fullPath, ProgramCommandLine(fullPath, arguments), gameFolder,
                                errorOut)) {
    return kLaunchStarted;
  }
  bool shellStarted = false;
  if (errorOut == kErrorElevationRequired) {
    if (HasExeExtension(fullPath)) {
      Log(L"Yonetici izni isteniyor: %ls", fullPath.c_str());
      shellStarted = host.ShellRun(L"runas", fullPath, arguments, gameFolder, errorOut);
    } else {
      // The shell cannot elevate a file that is not a program: an elevated patcher starts it.
      Log(L"Yonetici izni isteniyor (patcher uzerinden): %ls", fullPath.c_str());
      shellStarted = host.ShellRun(L"runas", host.ProgramPath(),
                                   SwitchRunParameters(relativePath, arguments), gameFolder,
                                   errorOut);
    }
  } else if (errorOut == kErrorBadExeFormat) {
    // A batch file or a shortcut: its associated program opens it.
    shellStarted = host.ShellRun(L"open", fullPath, arguments, gameFolder, errorOut);
  } else {
    return kLaunchFailed;
  }
  if (shellStarted) return kLaunchStarted;
  return errorOut == kErrorCancelled ? kLaunchRefused : kLaunchFailed;
}

int32_t StartGame(LaunchHost& host, const GameStartRequest& request, const LocaleTable& locale) {
  if (!request.startEnabled) return -1;
  if (request.preview) {
    host.ShowBox(L"\u00D6nizleme modunda oyun ba\u015Flat\u0131lmaz.", BoxKind::Information);
    return -1;
  }
  std::wstring relative, fullPath;
  if (!ResolveRunPath(request.gameFolder, request.runPath, relative, fullPath)) {
    // An empty run_path is the operator's to fix: the player's box and the log both say so.
    const bool empty = trim(request.runPath).empty();
    if (empty) Log(L"Oyun baslatilamadi: run_path bos (yapilandirma baslatilacak programi adlandirmiyor).");
    else Log(L"Oyun baslatilamadi: run_path guvenli bir yol degil: %ls", request.runPath.c_str());
    host.ShowBox(locale.text("RUN_PATH_EMPTY") + (empty ? L"\n(draskeltorrent.config.xml: run_path boş)" : L""),
                 BoxKind::Warning);
    return -1;
  }
  if (!host.FileExists(fullPath)) {
    Log(L"Oyun baslatilamadi: program bulunamadi: %ls", fullPath.c_str());
    host.ShowBox(locale.text("CREATE_PROCESS_ERROR_2") + L"\n" + fullPath, BoxKind::Warning);
    return -1;
  }
  uint32_t error = 0;
  const int32_t result = LaunchProgram(host, request.gameFolder, relative, request.arguments, error);
  if (result == kLaunchStarted) {
    Log(L"Oyun baslatildi: %ls", fullPath.c_str());
    if (request.closeOnStart) host.CloseWindow();
  } else if (result == kLaunchRefused) {
    Log(L"Oyun baslatma iptal edildi (yonetici izni verilmedi): %ls", fullPath.c_str());
  } else {
    Log(L"Oyun baslatilamadi: %ls (%u)", fullPath.c_str(), unsigned(error));
    host.ShowBox(locale.text("ERROR_EXECUTE_PROCESS") + L"\n" + systemErrorText(error),
                 BoxKind::Error);
  }
  return result;
}

int32_t RunExtraProgram(LaunchHost& host, const std::wstring& gameFolder,
                        const std::wstring& relativePath, const LocaleTable& locale) {
  std::wstring safe, fullPath;
  if (!ResolveRunPath(gameFolder, relativePath, safe, fullPath)) return -1;
  if (!host.FileExists(fullPath)) {
    host.ShowBox(locale.text("CREATE_PROCESS_ERROR_2") + L"\n" + fullPath, BoxKind::Warning);
    return -1;
  }
  uint32_t error = 0;
  const int32_t result =
      LaunchProgram(host, gameFolder, safe, L"", error);
  if (result == kLaunchFailed) {
    Log(L"Calistirilamadi: %ls (%u)", fullPath.c_str(), unsigned(error));
    host.ShowBox(locale.text("ERROR_EXECUTE_PROCESS") + L"\n" + systemErrorText(error),
                 BoxKind::Error);
  }
  return result;
}

RunEndStep DecideRunEnd(bool success, bool autoStart, bool preview, bool elevationAsked,
                        bool closing, bool stoppedInUse) {
  if (success) return autoStart && !preview ? RunEndStep::StartGame : RunEndStep::Nothing;
  if (elevationAsked || closing || stoppedInUse) return RunEndStep::Nothing;
  return RunEndStep::AskRetry;
}

std::wstring RetryQuestion(const LocaleTable& locale, const std::wstring& errorText) {
  return locale.format("SV_RETRY",
                       {errorText.empty() ? locale.text("FAILED_DOWNLOAD_FILE") : errorText});
}

bool ParseSwitchRunCommandLine(std::wstring_view commandLine, std::wstring& relativePathOut,
                               std::wstring& argumentsOut) {
  std::wstring_view rest = commandLine;
  std::wstring program, switchName;
  NextToken(rest, program);
  NextToken(rest, switchName);
  NextToken(rest, relativePathOut);
  argumentsOut = trim(rest);
  return switchName == L"--sv-run" && !relativePathOut.empty();
}

int32_t RunSwitchMode(LaunchHost& host, const std::wstring& gameFolder,
                      std::wstring_view commandLine) {
  std::wstring relative, arguments, safe, fullPath;
  if (!ParseSwitchRunCommandLine(commandLine, relative, arguments) ||
      !ResolveRunPath(gameFolder, relative, safe, fullPath)) {
    return kLaunchFailed;
  }
  uint32_t error = kErrorFileNotFound;
  if (host.FileExists(fullPath) &&
      host.CreateProgramProcess(fullPath, ProgramCommandLine(fullPath, arguments), gameFolder,
                                error)) {
    return kLaunchStarted;
  }
  host.ShowBox(L"Oyun ba\u015Flat\u0131lamad\u0131:\n" + fullPath + L"\n\n" + systemErrorText(error),
               BoxKind::Error);
  return kLaunchFailed;
}

}  // namespace sv
