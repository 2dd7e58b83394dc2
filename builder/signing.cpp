#include "builder/signing.h"

#include "common/file.h"

namespace sv {

std::wstring PickSignTool(const std::vector<SignToolCandidate>& versioned) {
  const SignToolCandidate* best = nullptr;
  for (const SignToolCandidate& c : versioned) {
    if (!best || c.version > best->version) best = &c;  // ordinal; a longer name with equal start is greater
  }
  return best ? best->path : std::wstring();
}

std::wstring SignBaseCommand(const std::wstring& tool, const SignOptions& options,
                             const std::wstring& productName) {
  std::wstring command = L"\"" + tool + L"\" sign /fd SHA256 /f \"" + options.pfxPath + L"\"";
  if (!options.password.empty()) command += L" /p \"" + options.password + L"\"";
  if (!productName.empty()) {
    std::wstring description = productName;
    for (wchar_t& c : description) {
      if (c == L'"') c = L'\'';
    }
    command += L" /d \"" + description + L"\"";
  }
  return command;
}

bool SignFileWith(RunCapturedFn run, const std::wstring& tool, const SignOptions& options,
                  const std::wstring& file, const VersionFields& version, BuildLogFn log, void* context,
                  std::wstring* errorOut) {
  auto fail = [errorOut](std::wstring message) {
    if (errorOut) *errorOut = std::move(message);
    return false;
  };
  auto say = [log, context](const std::wstring& line) {
    if (log) log(context, line);
  };
  if (tool.empty() || !isFile(tool) || !isFile(file))
    return fail(L"signtool.exe bulunamadı. Windows SDK'nın \"Signing Tools for Desktop Apps\" bileşenini kurun.");
  if (!isFile(options.pfxPath)) return fail(L"Sertifika dosyası (.pfx) bulunamadı: " + options.pfxPath);
  const std::wstring base = SignBaseCommand(tool, options, version.productName);
  std::wstring output;
  uint32_t exitCode = 0;
  bool stampFailed = false;
  if (!options.timestampUrl.empty()) {
    say(L"İmzalanıyor (zaman damgalı)...");
    const std::wstring command = base + L" /tr \"" + options.timestampUrl + L"\" /td SHA256 \"" + file + L"\"";
    if (run(command, output, exitCode, kSignTimeoutMs) && exitCode == 0) return true;
    say(L"Zaman damgalı imza başarısız, damgasız deneniyor: " + output);
    stampFailed = true;
  }
  say(L"İmzalanıyor...");
  output.clear();
  if (!run(base + L" \"" + file + L"\"", output, exitCode, kSignTimeoutMs) || exitCode != 0)
    return fail(L"İmzalama başarısız: " + output);
  if (stampFailed) say(L"UYARI: zaman damgası eklenemedi; imza sertifika süresi bitince geçersiz sayılır.");
  return true;
}

bool SignFile(const SignOptions& options, const std::wstring& file, const VersionFields& version,
              BuildLogFn log, void* context, std::wstring* errorOut) {
  const std::wstring tool = options.toolPath.empty() ? FindSignTool() : options.toolPath;
  return SignFileWith(RunCaptured, tool, options, file, version, log, context, errorOut);
}

}  // namespace sv
