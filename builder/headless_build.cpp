#include "builder/headless_build.h"

#include <algorithm>
#include <cstdio>

#include "builder/build_assembly.h"
#include "builder/build_request.h"
#include "builder/live_check.h"
#include "builder/session.h"
#include "builder/session_check.h"
#include "builder/skin_import.h"
#include "common/file.h"
#include "common/path.h"
#include "common/text.h"

namespace sv {

namespace {

struct Printer {
  HeadlessPrintFn print;
  void* context;
  void operator()(const std::wstring& line) const { print(context, line); }
};

void LogToPrinter(void* context, const std::wstring& line) { (*static_cast<const Printer*>(context))(line); }

std::wstring Hex8(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", value);
  return toWide(text);
}

bool IsHelpArgument(const std::wstring& arg) {
  return equalsNoCase(arg, L"--help") || arg == L"-h" || arg == L"/?";
}

}  // namespace

bool IsHeadlessBuild(const std::vector<std::wstring>& args) {
  for (const std::wstring& arg : args) {
    if (equalsNoCase(arg, L"--build") || IsHelpArgument(arg)) return true;
  }
  return false;
}

int RunHeadlessBuild(const std::vector<std::wstring>& args, const std::wstring& templatePath,
                     const std::wstring& password, HeadlessPrintFn print, void* context) {
  const Printer out{print, context};
  if (std::any_of(args.begin(), args.end(), IsHelpArgument)) {
    const std::wstring usage = HeadlessUsageText();
    for (size_t at = 0; at <= usage.size();) {
      const size_t end = std::min(usage.find(L'\n', at), usage.size());
      out(usage.substr(at, end - at));
      at = end + 1;
    }
    return kHeadlessBuilt;
  }
  std::wstring sessionPath, outArg;
  bool haveOut = false, liveCheck = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (equalsNoCase(args[i], L"--check") && !liveCheck) {
      liveCheck = true;
    } else if (equalsNoCase(args[i], L"--build") && i + 1 < args.size() && sessionPath.empty()) {
      sessionPath = args[++i];
    } else if (equalsNoCase(args[i], L"--out") && i + 1 < args.size() && !haveOut) {
      outArg = args[++i];
      haveOut = true;
    } else {
      out(L"Kullanım: SarvikBuilder.exe --build OTURUM.ini [--out ÇIKTI.exe] [--check]");
      return kHeadlessBadArguments;
    }
  }
  if (sessionPath.empty() || (haveOut && outArg.empty())) {
    out(L"Kullanım: SarvikBuilder.exe --build OTURUM.ini [--out ÇIKTI.exe] [--check]");
    return kHeadlessBadArguments;
  }
  std::string sessionText;
  if (!readWholeFile(sessionPath, kSessionFileMaxSize, sessionText)) {
    out(L"Oturum dosyası okunamadı: " + sessionPath);
    return kHeadlessBadArguments;
  }
  BuilderSession session;
  session.values = ParseSessionText(sessionText);

  auto fail = [&out](const std::wstring& message) {
    out(L"Oluşturulamadı: " + message);
    return kHeadlessFailed;
  };

  const std::wstring skinPath = session.text("skin");
  if (skinPath.empty()) return fail(L"Oturumda skin yok: " + sessionPath);
  if (!isDirectory(skinPath) && !isFile(skinPath)) return fail(L"Skin bulunamadı: " + skinPath);
  SkinImport skin;
  std::wstring error;
  if (!skin.LoadSkin(skinPath, &error)) return fail(L"Skin yüklenemedi: " + skinPath + L": " + error);
  out(L"Skin yüklendi: " + skinPath);
  for (const std::wstring& warning : skin.warnings) out(L"Uyarı: " + warning);
  if (!ResolveKeyAliases(session, skin, &error)) return fail(error);
  if (std::wstring unknown = CheckSessionKeys(session, skin); !unknown.empty()) return fail(unknown);
  const std::vector<EffectiveAddress> addresses = EffectiveAddresses(skin, session);
  out(L"Patcher'ın kullanacağı adresler:");
  for (const EffectiveAddress& a : addresses)
    out(L"  " + toWide(a.key) + L" = " + (a.url.empty() ? L"(yok)" : a.url) + (a.fromSkin ? L"  [skin'den]" : L""));
  if (std::wstring bad = CheckAddresses(addresses); !bad.empty()) return fail(bad);

  std::wstring outputPath = haveOut ? outArg : session.text("out_path");
  if (outputPath.empty()) {
    std::wstring name = session.text("out_name");
    if (name.empty()) name = L"Draskel.exe";
    outputPath = joinPath(isDirectory(skinPath) ? skinPath : parentPath(skinPath), name);
  }

  BuildRequest request;
  if (!AssembleBuildRequest(session, skin, templatePath, outputPath, password, request, &error)) return fail(error);

  out(L"Oluşturma başladı → " + outputPath);
  const BuildResult result = BuildPatcher(request, LogToPrinter, const_cast<Printer*>(&out));
  if (!result.ok) return fail(result.message);
  out(L"Tamamlandı → " + outputPath);
  out(L"CRC32: " + Hex8(result.crc32) + L"    Boyut: " + formatSize(result.size));
  if (result.isSigned) out(L"Dijital imza eklendi.");
  if (liveCheck) {
    // What a player's patcher meets at this address now; the patcher is written either way.
    out(L"Kontrol: " + addresses.front().url);
    const LiveCheck check = CheckLiveRelease(addresses.front().url);
    for (const std::wstring& line : check.lines) out(L"  " + line);
    out(L"Kontrol: " + std::to_wstring(check.problems) + L" sorun");
    if (check.problems) {
      out(L"sv_patcher_crc32=" + Hex8(result.crc32));
      return kHeadlessFailed;
    }
  }
  out(L"sv_patcher_crc32=" + Hex8(result.crc32));
  return kHeadlessBuilt;
}

}  // namespace sv
