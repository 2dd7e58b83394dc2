// The signed release in the update run: the manifest beside the configuration, the lists it
// names, and the trust state that keeps a game folder from going back to an older release.
#include <ctime>

#include "common/file.h"
#include "common/file_os.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/fetch_retries.h"
#include "patcher/engine/log.h"
#include "patcher/engine/update_engine.h"
#include "release/url.h"

namespace sv {

namespace {

// A publish writes the configuration and then the manifest; a patcher between the two reads
// them again rather than refusing a good release.
constexpr int kPairAttempts = 4;
constexpr uint32_t kPairRetryMs = 1500;

}  // namespace

bool UpdateEngine::RefuseRelease(const std::wstring& reason, const std::string& detail) {
  Log(L"Surum reddedildi: %ls (%ls)", reason.c_str(), toWide(detail).c_str());
  return Fail(kReleaseRefusedText + reason);
}

bool UpdateEngine::AcceptSignedRelease(std::string& document) {
  const std::wstring url = siblingUrl(skin_.remoteConfigPath, toWide(kReleaseManifestName));
  const std::wstring trustPath = joinPath(workFolder_, kTrustFileName);
  std::string trustText;
  const TrustState trust = readWholeFile(trustPath, 65536, trustText) ? ParseTrustState(trustText)
                                                                      : TrustState();
  Log(L"Surum anahtari %ls; kabul edilen en yuksek surum %llu",
      toWide(ReleaseKeyId(*releaseKey_)).c_str(), (unsigned long long)trust.release);
  for (int attempt = 1;; ++attempt) {
    std::string text;
    std::wstring error;
    if (url.empty() || !FetchWithRetries(http_, FreshUrl(url), kReleaseManifestLimit, text,
                                         &cancel_, error)) {
      if (Cancelled()) return false;
      return RefuseRelease(L"Sürüm imzası (" + toWide(kReleaseManifestName) + L") alınamadı.\n" +
                               error,
                           "missing manifest");
    }
    ReleaseManifest manifest;
    std::string detail;
    const ReleaseRefusal refusal = CheckReleaseManifest(
        text, *releaseKey_, trust, int64_t(std::time(nullptr)), document, manifest, detail);
    if (refusal == ReleaseRefusal::kConfigMismatch && attempt < kPairAttempts) {
      Log(L"Yapilandirma ve surum imzasi uyusmuyor (yayin suruyor olabilir), tekrar okunuyor");
      if (!SleepWatchingCancel(kPairRetryMs)) return false;
      if (!FetchConfigDocument(document)) return false;
      continue;
    }
    if (refusal != ReleaseRefusal::kNone) {
      return RefuseRelease(RefusalText(refusal),
                           std::string(RefusalLogName(refusal)) + ": " + detail);
    }
    const std::string accepted = FormatTrustState(AcceptRelease(trust, manifest));
    if (accepted != trustText && !writeFileAtomic(trustPath, accepted.data(), accepted.size())) {
      Log(L"Uyari: %ls yazilamadi (%u)", trustPath.c_str(), unsigned(os::lastError()));
    }
    Log(L"Imzali surum %llu kabul edildi, gecerlilik %ls", (unsigned long long)manifest.release,
        toWide(FormatUtcTime(manifest.expires)).c_str());
    if (manifest.nextKey) {
      Log(L"Sonraki anahtar: %ls", toWide(ReleaseKeyId(*manifest.nextKey)).c_str());
    }
    release_ = std::move(manifest);
    return true;
  }
}

bool UpdateEngine::SignedListMatches(const std::wstring& source, std::string_view bytes) const {
  if (!release_) return true;
  auto named = release_->lists.find(toUtf8(source));
  return named != release_->lists.end() && ReleaseObjectOf(bytes) == named->second;
}

bool UpdateEngine::SignedListAccepted(const std::wstring& source, std::string_view bytes,
                                      const std::vector<FileEntry>& list,
                                      const std::wstring& suffix) {
  if (!release_) return true;
  auto named = release_->lists.find(toUtf8(source));
  if (named == release_->lists.end()) {
    return RefuseRelease(L"İmzalı sürüm bu kaynağın dosya listesini içermiyor" + suffix + L".",
                         "list not named: " + toUtf8(source));
  }
  if (ReleaseObjectOf(bytes) != named->second) {
    return RefuseRelease(L"Dosya listesi imzalı sürümle uyuşmuyor" + suffix + L".",
                         "list mismatch: " + toUtf8(source));
  }
  for (const FileEntry& entry : list) {
    if (!entry.object) {
      return RefuseRelease(L"Dosya listesinde imzasız satır var" + suffix + L".",
                           "unsigned line: " + toUtf8(entry.path));
    }
  }
  return true;
}

}  // namespace sv
