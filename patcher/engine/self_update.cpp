#include "patcher/engine/self_update.h"

#include <vector>

#include "common/crc32.h"
#include "common/file.h"
#include "common/path.h"
#include "common/text.h"
#include "release/lz_decode.h"

namespace sv {

namespace {

std::wstring Hex8(uint32_t value) {
  std::wstring text(8, L'0');
  for (int i = 7; i >= 0; --i, value >>= 4) text[size_t(i)] = L"0123456789abcdef"[value & 15];
  return text;
}

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

std::wstring SelfUpdateFailedPath(const std::wstring& workFolder, const std::wstring& programPath) {
  return joinPath(workFolder, fileName(programPath) + L".failed");
}

bool ReadFailedBuild(const std::wstring& path, uint32_t& crcOut) {
  std::string text;
  if (!readWholeFile(path, 64, text)) return false;
  return ParseHex32(trim(text), crcOut);
}

bool WriteFailedBuild(const std::wstring& path, uint32_t crc) {
  const std::string text = toUtf8(Hex8(crc)) + "\r\n";
  return writeFileAtomic(path, text.data(), text.size());
}

namespace {

bool WriteFailedBuildWith(const std::wstring& path, uint32_t crc, const SwapSteps& steps) {
  return steps.write(path, toUtf8(Hex8(crc)) + "\r\n");
}

}  // namespace

namespace {

SelfUpdatePlan Filtered(SelfUpdatePlan plan, const SelfUpdateFacts& facts) {
  if (plan.route == SelfUpdateRoute::None) return plan;
  if (facts.restarted) {
    plan.logLines.push_back(L"Kendini guncelleme: bu calisma bir kendini guncellemeden sonra "
                            L"basladi; " + Hex8(plan.target) +
                            L" bu calismada alinmadi (dongu olmasin diye).");
    plan.route = SelfUpdateRoute::None;
  } else if (facts.failedKnown && facts.failedCrc == plan.target) {
    plan.logLines.push_back(L"Kendini guncelleme: " + Hex8(plan.target) +
                            L" bu klasorde daha once baslayamadi; alinmadi.");
    plan.route = SelfUpdateRoute::None;
  }
  return plan;
}

}  // namespace

SelfUpdatePlan PlanConfigurationUpdate(const SelfUpdateFacts& facts) {
  SelfUpdatePlan plan;
  if (!facts.configNames || facts.configCrc == facts.ownCrc) return plan;
  plan.route = SelfUpdateRoute::Configuration;
  plan.target = facts.configCrc;
  return Filtered(std::move(plan), facts);
}

SelfUpdatePlan PlanFileListUpdate(const SelfUpdateFacts& facts) {
  SelfUpdatePlan plan;
  if (!facts.listNames) return plan;
  if (facts.configNames) {
    // The configuration rules the patcher; its build was dealt with before the lists.
    if (facts.listCrc != facts.configCrc) {
      plan.logLines.push_back(L"Kendini guncelleme: yapilandirma patcher icin " +
                              Hex8(facts.configCrc) + L", dosya listesi " + Hex8(facts.listCrc) +
                              L" diyor; yapilandirmadaki gecerli, listedeki kurulmaz.");
    }
    return plan;
  }
  if (facts.listCrc == facts.ownCrc) return plan;
  plan.route = SelfUpdateRoute::FileList;
  plan.target = facts.listCrc;
  return Filtered(std::move(plan), facts);
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

std::wstring SelfUpdatePartPath(const std::wstring& oldPath) { return oldPath + L".part"; }

std::wstring SelfUpdateHelperPath(const std::wstring& workFolder, const std::wstring& programPath) {
  return joinPath(workFolder, fileName(programPath) + L".swap");
}

std::wstring SelfUpdateStagedPath(const std::wstring& programPath) {
  return programPath + L".new";
}

namespace {

std::wstring Code(const SwapSteps& steps) { return L"(" + std::to_wstring(steps.lastError()) + L")"; }

// A whole copy of `from` at `to`: made under a partial name and renamed, so a copy cut short is
// never taken for the previous build.
bool CopyWhole(const std::wstring& from, const std::wstring& to, const SwapSteps& steps) {
  const std::wstring part = SelfUpdatePartPath(to);
  steps.remove(part);
  steps.remove(to);
  if (!steps.copy(from, part)) return false;
  // A read-only program gives a read-only copy, which could never be deleted afterwards.
  steps.clearReadOnly(part);
  if (steps.move(part, to, true, false)) return true;
  steps.remove(part);
  return false;
}

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

std::wstring WorkFolderOf(const std::wstring& programPath) {
  return joinPath(parentPath(programPath), L"temp");
}

bool FileCrc(const std::wstring& path, const SwapSteps& steps, uint32_t& crc) {
  std::string bytes;
  if (!steps.read(path, bytes) || bytes.empty()) return false;
  crc = Crc32(bytes.data(), bytes.size());
  return true;
}

}  // namespace

bool SwapInNewPatcher(const std::wstring& workFolder, const std::wstring& programPath,
                      const SwapSteps& steps) {
  const std::wstring fresh = SelfUpdateNewPath(workFolder, programPath);
  if (!steps.exists(fresh)) {
    steps.log(L"Kendini guncelleme: yeni exe yok: " + fresh);
    return false;
  }
  std::wstring keep = SelfUpdateOldPath(workFolder, programPath);
  if (!CopyWhole(programPath, keep, steps)) {
    keep = SelfUpdateFallbackOldPath(programPath);
    if (!CopyWhole(programPath, keep, steps)) {
      steps.log(L"Kendini guncelleme: eski exe yedeklenemedi " + Code(steps));
      steps.remove(fresh);
      return false;
    }
  }
  SwapRequest request;
  request.program = programPath;
  request.source = fresh;
  request.keep = keep;
  if (!steps.start(keep, SwapHelperArguments(request))) {
    steps.log(L"Kendini guncelleme: degistirici baslatilamadi " + Code(steps));
    steps.remove(keep);
    steps.remove(fresh);
    return false;
  }
  steps.log(L"Kendini guncelleme: yeni surum, bu patcher kapaninca yerine konup baslatilacak.");
  return true;
}

std::wstring SwapHelperArguments(const SwapRequest& request) {
  std::wstring text = std::wstring(kSwapSwitch) + L" " + Quoted(request.program) + L" " +
                      Quoted(request.source);
  if (!request.keep.empty()) text += std::wstring(L" ") + kSwapKeepSwitch + L" " + Quoted(request.keep);
  if (!request.start) text += std::wstring(L" ") + kSwapNoStartSwitch;
  return text;
}

SwapRequest ParseSwapArguments(const std::vector<std::wstring>& arguments) {
  SwapRequest request;
  size_t i = 0;
  while (i < arguments.size() && !equalsNoCase(arguments[i], kSwapSwitch)) ++i;
  // The switch, the program and the source.
  if (i + 2 >= arguments.size()) return request;
  request.program = arguments[i + 1];
  request.source = arguments[i + 2];
  for (size_t j = i + 3; j < arguments.size(); ++j) {
    if (equalsNoCase(arguments[j], kSwapKeepSwitch) && j + 1 < arguments.size()) {
      request.keep = arguments[++j];
    } else if (equalsNoCase(arguments[j], kSwapNoStartSwitch)) {
      request.start = false;
    } else {
      return request;
    }
  }
  auto full = [](const std::wstring& p) {
    return (p.size() > 2 && p[1] == L':' && (p[2] == L'\\' || p[2] == L'/')) ||
           (!p.empty() && (p[0] == L'/' || p.rfind(L"\\\\", 0) == 0));
  };
  request.valid = full(request.program) && full(request.source) &&
                  (request.keep.empty() || full(request.keep)) && request.program != request.source;
  return request;
}

int RunSwapHelper(const SwapRequest& request, const SwapSteps& steps) {
  if (!request.valid) {
    steps.log(L"Degistirici: gecersiz arguman");
    return 1;
  }
  std::wstring source = request.source;
  bool placed = false;
  uint32_t waited = 0;
  for (;;) {
    steps.clearReadOnly(request.program);
    if (steps.move(source, request.program, true, false)) {
      placed = true;
      break;
    }
    const uint32_t error = steps.lastError();
    if (error == kErrorNotSameDevice) {
      // The temp folder lies on another volume: the new file is first copied beside the program,
      // from where a rename puts it in place at once.
      const std::wstring staged = SelfUpdateStagedPath(request.program);
      steps.remove(staged);
      if (steps.move(source, staged, true, true)) {
        source = staged;
        continue;
      }
      steps.remove(staged);
    }
    if (error == kErrorNotSameDevice || waited >= kSwapWaitMs) {
      steps.log(L"Kendini guncelleme: yeni exe yerlestirilemedi (" + std::to_wstring(error) + L")");
      break;
    }
    // The old patcher is still ending: its program file cannot be replaced until it has.
    steps.sleep(kSwapRetryMs);
    waited += kSwapRetryMs;
  }
  if (!placed) {
    steps.remove(source);
    // The old patcher has closed: the player gets it back, in a run that takes no new build.
    if (request.start && !steps.start(request.program, kUpdatedSwitch)) {
      steps.log(L"Onceki patcher baslatilamadi " + Code(steps));
    }
    return 1;
  }
  if (!request.start) {
    steps.log(L"Kendini guncelleme: " + request.program + L" yerine konuldu.");
    return 0;
  }
  if (steps.start(request.program, kUpdatedSwitch)) {
    steps.log(L"Patcher guncellendi, yeni surum baslatildi.");
    return 0;
  }
  steps.log(L"Yeni patcher baslatilamadi " + Code(steps));
  if (request.keep.empty() || !steps.exists(request.keep)) return 1;
  // A build that does not start would stay the player's patcher: the previous one goes back
  // (this helper runs from it, and a running program file may be renamed), this build is never
  // taken again, and the previous one is started once.
  uint32_t failed = 0;
  if (FileCrc(request.program, steps, failed)) {
    WriteFailedBuildWith(SelfUpdateFailedPath(WorkFolderOf(request.program), request.program),
                         failed, steps);
  }
  steps.clearReadOnly(request.program);
  if (!steps.move(request.keep, request.program, true, false)) {
    steps.log(L"Kendini guncelleme: eski exe geri konamadi " + Code(steps));
    return 1;
  }
  if (!steps.start(request.program, kUpdatedSwitch)) {
    steps.log(L"Onceki patcher baslatilamadi " + Code(steps));
  } else {
    steps.log(L"Onceki patcher geri konup baslatildi.");
  }
  return 1;
}

bool RestorePreviousPatcher(const std::wstring& workFolder, const std::wstring& programPath,
                            const SwapSteps& steps) {
  std::wstring keep = SelfUpdateOldPath(workFolder, programPath);
  if (!steps.exists(keep)) keep = SelfUpdateFallbackOldPath(programPath);
  if (!steps.exists(keep)) return false;
  uint32_t own = 0;
  if (!FileCrc(programPath, steps, own)) return false;
  const std::wstring record = SelfUpdateFailedPath(workFolder, programPath);
  uint32_t recorded = 0;
  std::string text;
  const bool again = steps.read(record, text) && ParseHex32(trim(text), recorded) && recorded == own;
  WriteFailedBuildWith(record, own, steps);
  const std::wstring helper = SelfUpdateHelperPath(workFolder, programPath);
  if (!CopyWhole(programPath, helper, steps)) {
    steps.log(L"Kendini guncelleme: degistirici kopyalanamadi " + Code(steps));
    return false;
  }
  SwapRequest request;
  request.program = programPath;
  request.source = keep;
  // Once: a build that already put the previous one back and came again (an older patcher took
  // it again) puts it back without starting it.
  request.start = !again;
  if (!steps.start(helper, SwapHelperArguments(request))) {
    steps.log(L"Kendini guncelleme: degistirici baslatilamadi " + Code(steps));
    steps.remove(helper);
    return false;
  }
  steps.log(L"Bu patcher surumu (" + Hex8(own) + L") baslayamadi; onceki surum geri konuyor" +
            (again ? L" (baslatilmadan)." : L"."));
  return true;
}

std::vector<std::wstring> SelfUpdateLeftovers(const std::wstring& workFolder,
                                              const std::wstring& programPath) {
  const std::wstring old = SelfUpdateOldPath(workFolder, programPath);
  const std::wstring beside = SelfUpdateFallbackOldPath(programPath);
  return {old, SelfUpdatePartPath(old), beside, SelfUpdatePartPath(beside),
          SelfUpdateHelperPath(workFolder, programPath),
          SelfUpdatePartPath(SelfUpdateHelperPath(workFolder, programPath)),
          SelfUpdateStagedPath(programPath)};
}

std::wstring FormatFileVersion(uint64_t v) {
  return std::to_wstring(v >> 48) + L"." + std::to_wstring((v >> 32) & 0xFFFF) + L"." +
         std::to_wstring((v >> 16) & 0xFFFF) + L"." + std::to_wstring(v & 0xFFFF);
}

SignerVerdict DecideSigner(const FileSignature& running, const FileSignature& candidate,
                           std::wstring* reasonOut) {
  if (!running.present) return SignerVerdict::CrcOnly;
  auto refuse = [reasonOut](const std::wstring& why) {
    if (reasonOut) *reasonOut = L"Kendini guncelleme: " + why + L", guncelleme atlandi.";
    return SignerVerdict::Refused;
  };
  const std::wstring notSigned = L"yeni exe ayni imzaci tarafindan gecerli imzali degil";
  if (!candidate.present || candidate.signerCert.empty()) return refuse(notSigned);
  const int32_t t = candidate.trust;
  const bool chainTrusted = t == 0;
  const bool chainUnproven = t == kCertUntrustedRoot || t == kCertChaining || t == kCertExpired;
  // Anything else: the file changed after signing, or the signature does not verify.
  if (!chainTrusted && !chainUnproven) return refuse(notSigned);
  if (candidate.signerSubject.empty() || candidate.signerSubject != running.signerSubject) {
    return refuse(notSigned);
  }
  if (!chainTrusted && (candidate.signerKey.empty() || candidate.signerKey != running.signerKey)) {
    return refuse(notSigned + L" (sertifika zinciri dogrulanmadi ve anahtar baska)");
  }
  if (running.versionKnown && !candidate.versionKnown) {
    return refuse(L"yeni exe'nin surum bilgisi yok");
  }
  if (running.versionKnown && candidate.fileVersion < running.fileVersion) {
    return refuse(L"yeni exe surumu " + FormatFileVersion(candidate.fileVersion) +
                  L" bu patcherinkinden (" + FormatFileVersion(running.fileVersion) +
                  L") dusuk");
  }
  return SignerVerdict::Accepted;
}

bool ParseFixedFileVersion(const void* data, size_t size, uint64_t& versionOut) {
  // VS_FIXEDFILEINFO: signature 0xFEEF04BD, struct version, then the file version's high and low
  // 32 bits; it lies on a 32-bit boundary after the "VS_VERSION_INFO" key.
  const auto* p = static_cast<const uint8_t*>(data);
  auto u32 = [p](size_t at) {
    return uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 | uint32_t(p[at + 2]) << 16 |
           uint32_t(p[at + 3]) << 24;
  };
  for (size_t at = 0; at + 16 <= size; at += 4) {
    if (u32(at) != 0xFEEF04BDu) continue;
    versionOut = uint64_t(u32(at + 8)) << 32 | u32(at + 12);
    return true;
  }
  return false;
}

}  // namespace sv
