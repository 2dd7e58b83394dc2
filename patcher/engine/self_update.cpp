#include "patcher/engine/self_update.h"

#include <vector>

#include "common/crc32.h"
#include "common/path.h"
#include "common/text.h"
#include "patcher/engine/lz_decode.h"

namespace sv {

namespace {

// WinVerifyTrust answers that speak of the certificate chain, not of the file.
constexpr int32_t kCertExpired = int32_t(0x800B0101);
constexpr int32_t kCertUntrustedRoot = int32_t(0x800B0109);
constexpr int32_t kCertChaining = int32_t(0x800B010A);

}  // namespace

std::wstring SelfUpdateNewPath(const std::wstring& workFolder, const std::wstring& programPath) {
  return joinPath(workFolder, fileName(programPath) + L".new");
}

std::wstring SelfUpdateOldPath(const std::wstring& workFolder, const std::wstring& programPath) {
  return joinPath(workFolder, fileName(programPath) + L".old");
}

std::wstring SelfUpdateFallbackOldPath(const std::wstring& programPath) {
  return programPath + L".old";
}

bool IsLzPatcherUrl(const std::wstring& url) {
  std::wstring path = toLowerWide(url);
  const size_t query = path.find(L'?');
  if (query != std::wstring::npos) path.resize(query);
  return path.size() >= 3 && path.compare(path.size() - 3, 3, L".lz") == 0;
}

std::wstring SelfUpdateCommandLine(const std::wstring& programPath) {
  return L"\"" + programPath + L"\" " + kUpdatedSwitch;
}

bool PreparePatcherBody(const std::wstring& url, uint32_t expectedCrc, std::string& body,
                        std::wstring& logOut) {
  if (IsLzPatcherUrl(url)) {
    // The stream states its length first; a patcher larger than a fetched one may be is not
    // decoded at all, so a small stream cannot make the patcher allocate gigabytes.
    if (body.size() >= 4) {
      const auto* p = reinterpret_cast<const uint8_t*>(body.data());
      const uint32_t declared =
          uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
      if (declared > kPatcherMaxBytes) {
        logOut = L"Patcher .lz cozulemedi: " + std::to_wstring(declared) +
                 L" bayt, sinir " + std::to_wstring(kPatcherMaxBytes) + L" bayt";
        return false;
      }
    }
    std::vector<uint8_t> decoded;
    std::wstring error;
    if (!LzDecodeToMemory(body.data(), body.size(), decoded, &error)) {
      logOut = L"Patcher .lz cozulemedi: " + error;
      return false;
    }
    body.assign(decoded.begin(), decoded.end());
  }
  if (body.empty() || Crc32(body.data(), body.size()) != expectedCrc) {
    logOut = L"Patcher CRC uyusmadi, guncelleme atlandi.";
    return false;
  }
  return true;
}

bool SwapInNewPatcher(const std::wstring& workFolder, const std::wstring& programPath,
                      const SwapSteps& steps) {
  const std::wstring fresh = SelfUpdateNewPath(workFolder, programPath);
  std::wstring old = SelfUpdateOldPath(workFolder, programPath);
  steps.remove(old);
  if (!steps.move(programPath, old, false)) {
    old = SelfUpdateFallbackOldPath(programPath);
    steps.remove(old);
    if (!steps.move(programPath, old, false)) {
      steps.log(L"Kendini guncelleme: eski exe tasinamadi (" + std::to_wstring(steps.lastError()) +
                L")");
      steps.remove(fresh);
      return false;
    }
  }
  if (!steps.move(fresh, programPath, true)) {
    steps.log(L"Kendini guncelleme: yeni exe yerlestirilemedi (" +
              std::to_wstring(steps.lastError()) + L")");
    steps.move(old, programPath, false);
    return false;
  }
  if (!steps.start(programPath)) {
    steps.log(L"Yeni patcher baslatilamadi (" + std::to_wstring(steps.lastError()) + L")");
    // A program file that does not start would stay the player's patcher: the old one, which
    // is running now, goes back (the new file is not running, so it can be replaced).
    if (!steps.move(old, programPath, false)) {
      steps.log(L"Kendini guncelleme: eski exe geri konamadi (" +
                std::to_wstring(steps.lastError()) + L")");
    }
    return false;
  }
  steps.log(L"Patcher guncellendi, yeni surum baslatildi.");
  return true;
}

SignerVerdict DecideSigner(const FileSignature& running, const FileSignature& candidate) {
  if (!running.present) return SignerVerdict::CrcOnly;
  if (!candidate.present || candidate.signerCert.empty()) return SignerVerdict::Refused;
  const int32_t t = candidate.trust;
  if (t != 0 && t != kCertUntrustedRoot && t != kCertChaining && t != kCertExpired) {
    return SignerVerdict::Refused;
  }
  return candidate.signerCert == running.signerCert ? SignerVerdict::Accepted
                                                    : SignerVerdict::Refused;
}

}  // namespace sv
