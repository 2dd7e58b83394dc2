// The self-update run: whether the configuration names another patcher, fetching it, and putting
// it in place through the system's swap steps.
#include "common/crc32.h"
#include "common/file.h"
#include "common/file_os.h"
#include "patcher/engine/fetch_retries.h"
#include "patcher/engine/log.h"
#include "patcher/engine/self_update.h"
#include "patcher/engine/update_engine.h"
#include "release/url.h"

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

SelfUpdateFacts UpdateEngine::SelfUpdateFactsNow() const {
  SelfUpdateFacts facts;
  facts.ownCrc = ownCrc_;
  facts.configNames = configNamesPatcher_;
  facts.configCrc = configPatcherCrc_;
  facts.restarted = restartedAfterUpdate_;
  facts.failedKnown = ReadFailedBuild(SelfUpdateFailedPath(workFolder_, programPath_), facts.failedCrc);
  return facts;
}

bool UpdateEngine::CheckSelfUpdate(const RemoteConfig& config) {
  configNamesPatcher_ = config.patcherCrcValid && !config.patcherUrl.empty();
  configPatcherCrc_ = config.patcherCrc;
  if (!configNamesPatcher_) return false;
  if (!EnsureOwnCrc()) return false;
  const SelfUpdatePlan plan = PlanConfigurationUpdate(SelfUpdateFactsNow());
  for (const std::wstring& line : plan.logLines) Log(L"%ls", line.c_str());
  if (plan.route != SelfUpdateRoute::Configuration) return false;
  Log(L"Patcher guncellemesi var: %08x -> %08x", unsigned(ownCrc_), unsigned(config.patcherCrc));
  SetStatus(kPhaseDownloading, Text("SV_SELF_UPDATE"));
  const std::wstring url = addQueryParam(config.patcherUrl, L"v=" + LowerHex8(config.patcherCrc));
  std::string body;
  std::wstring error;
  if (!FetchWithRetries(http_, url, kPatcherMaxBytes, body, &cancel_, error)) {
    Log(L"Patcher indirilemedi: %ls", error.c_str());
    return false;
  }
  // A signed release names the one patcher it ships; nothing else replaces this program.
  if (release_ && (!release_->patcher || ReleaseObjectOf(body) != *release_->patcher)) {
    Log(L"Patcher imzali surumde %ls, guncelleme atlandi.",
        release_->patcher ? L"baska bir dosya" : L"yok");
    return false;
  }
  std::wstring refusal;
  if (!PreparePatcherBody(config.patcherUrl, config.patcherCrc, body, refusal)) {
    Log(L"%ls", refusal.c_str());
    return false;
  }
  if (!writeFileAtomic(NewExePath(), body.data(), body.size())) {
    Log(L"Yeni patcher yazilamadi: %ls (%u)", NewExePath().c_str(), unsigned(os::lastError()));
    return false;
  }
  return ApplySelfUpdate();
}

bool UpdateEngine::ApplySelfUpdate() {
  const std::wstring fresh = NewExePath();
  // A signed patcher only makes way for one its own signer signed.
  std::wstring refusal;
  const SignerVerdict verdict =
      DecideSigner(ReadFileSignature(programPath_), ReadFileSignature(fresh), &refusal);
  if (verdict == SignerVerdict::Refused) {
    Log(L"%ls", refusal.c_str());
    os::deleteFile(fresh);
    return false;
  }

  // A player who closed the window meanwhile gets no swap begun.
  if (Cancelled()) {
    os::deleteFile(fresh);
    return false;
  }
  SwapSteps steps = SystemSwapSteps(gameFolder_);
  steps.log = [](const std::wstring& line) { Log(L"%ls", line.c_str()); };
  if (!SwapInNewPatcher(workFolder_, programPath_, steps)) return false;
  Post(WM_SV_SELF_UPDATED);
  return true;
}

}  // namespace sv
