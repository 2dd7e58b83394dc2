// Self-update: fetching the patcher the configuration names, and putting a new program file in
// place of the running one. A running program can be moved but not overwritten, so the old file
// is moved aside first and moved back when the new one cannot take its place.
#include <windows.h>

#include "common/crc32.h"
#include "common/file.h"
#include "patcher/engine/fetch_retries.h"
#include "patcher/engine/log.h"
#include "patcher/engine/self_update.h"
#include "patcher/engine/update_engine.h"
#include "patcher/engine/url.h"

namespace sv {

namespace {

wchar_t HexDigit(uint32_t v) { return L"0123456789abcdef"[v & 15]; }

std::wstring LowerHex8(uint32_t value) {
  std::wstring text(8, L'0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[size_t(i)] = HexDigit(value);
  return text;
}

}  // namespace

std::wstring UpdateEngine::NewExePath() const {
  return SelfUpdateNewPath(workFolder_, programPath_);
}

bool UpdateEngine::EnsureOwnCrc() {
  if (ownCrcKnown_) return true;
  uint64_t ignoredSize = 0;
  if (!Crc32File(programPath_, ownCrc_, ignoredSize)) return false;
  ownCrcKnown_ = true;
  return true;
}

bool UpdateEngine::CheckSelfUpdate(const RemoteConfig& config) {
  if (!config.patcherCrcValid || config.patcherUrl.empty()) return false;
  if (!EnsureOwnCrc()) return false;
  if (ownCrc_ == config.patcherCrc) return false;
  Log(L"Patcher guncellemesi var: %08x -> %08x", unsigned(ownCrc_), unsigned(config.patcherCrc));
  SetStatus(kPhaseDownloading, Text("SV_SELF_UPDATE"));
  const std::wstring url = addQueryParam(config.patcherUrl, L"v=" + LowerHex8(config.patcherCrc));
  std::string body;
  std::wstring error;
  if (!FetchWithRetries(http_, url, kPatcherMaxBytes, body, &cancel_, error)) {
    Log(L"Patcher indirilemedi: %ls", error.c_str());
    return false;
  }
  std::wstring refusal;
  if (!PreparePatcherBody(config.patcherUrl, config.patcherCrc, body, refusal)) {
    Log(L"%ls", refusal.c_str());
    return false;
  }
  if (!writeFileAtomic(NewExePath(), body.data(), body.size())) {
    Log(L"Yeni patcher yazilamadi: %ls (%u)", NewExePath().c_str(), unsigned(GetLastError()));
    return false;
  }
  return ApplySelfUpdate();
}

bool UpdateEngine::ApplySelfUpdate() {
  const std::wstring fresh = NewExePath();
  // A signed patcher only makes way for one its own signer signed.
  const SignerVerdict verdict =
      DecideSigner(ReadFileSignature(programPath_), ReadFileSignature(fresh));
  if (verdict == SignerVerdict::Refused) {
    Log(L"Kendini guncelleme: yeni exe ayni imzaci tarafindan gecerli imzali degil, "
        L"guncelleme atlandi.");
    DeleteFileW(fresh.c_str());
    return false;
  }

  std::wstring old = SelfUpdateOldPath(workFolder_, programPath_);
  DeleteFileW(old.c_str());
  if (!MoveFileExW(programPath_.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    old = SelfUpdateFallbackOldPath(programPath_);
    DeleteFileW(old.c_str());
    if (!MoveFileExW(programPath_.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      Log(L"Kendini guncelleme: eski exe tasinamadi (%u)", unsigned(GetLastError()));
      DeleteFileW(fresh.c_str());
      return false;
    }
  }
  if (!MoveFileExW(fresh.c_str(), programPath_.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    Log(L"Kendini guncelleme: yeni exe yerlestirilemedi (%u)", unsigned(GetLastError()));
    MoveFileExW(old.c_str(), programPath_.c_str(), MOVEFILE_REPLACE_EXISTING);
    return false;
  }

  std::wstring commandLine = SelfUpdateCommandLine(programPath_);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(programPath_.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                      nullptr, gameFolder_.c_str(), &startup, &process)) {
    Log(L"Yeni patcher baslatilamadi (%u)", unsigned(GetLastError()));
    // A program file that does not start would stay the player's patcher: the old one, which
    // is running now, goes back (the new file is not running, so it can be replaced).
    if (!MoveFileExW(old.c_str(), programPath_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      Log(L"Kendini guncelleme: eski exe geri konamadi (%u)", unsigned(GetLastError()));
    }
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  Log(L"Patcher guncellendi, yeni surum baslatildi.");
  Post(WM_SV_SELF_UPDATED);
  return true;
}

}  // namespace sv
