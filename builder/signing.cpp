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

std::wstring TimedOutText(uint32_t timeoutMs) {
  return L"Araç " + std::to_wstring(timeoutMs / 1000) + L" sn içinde bitmedi ve durduruldu.";
}

std::wstring CancelledToolText() { return L"Araç operatörün isteğiyle durduruldu."; }

std::wstring QuoteArgument(std::wstring_view argument) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted += c;
    backslashes = 0;
  }
  quoted.append(2 * backslashes, L'\\');
  quoted += L'"';
  return quoted;
}

std::wstring SignBaseCommand(const std::wstring& tool, const SigningIdentity& identity,
                             const std::wstring& productName) {
  std::wstring command = QuoteArgument(tool) + L" sign /fd SHA256 /s " + QuoteArgument(identity.store) +
                         L" /sha1 " + QuoteArgument(identity.thumbprint);
  if (!productName.empty()) {
    std::wstring description = productName;
    for (wchar_t& c : description) {
      if (c == L'"') c = L'\'';
    }
    command += L" /d " + QuoteArgument(description);
  }
  return command;
}

bool SignFileWith(RunCapturedFn run, const std::wstring& tool, const SigningIdentity& identity,
                  const SignOptions& options, const std::wstring& file, const VersionFields& version,
                  BuildLogFn log, void* context, std::wstring* errorOut) {
  auto fail = [errorOut](std::wstring message) {
    if (errorOut) *errorOut = std::move(message);
    return false;
  };
  auto say = [log, context](const std::wstring& line) {
    if (log) log(context, line);
  };
  if (tool.empty() || !isFile(tool) || !isFile(file))
    return fail(L"signtool.exe bulunamadı. Windows SDK'nın \"Signing Tools for Desktop Apps\" bileşenini kurun.");
  const std::wstring base = SignBaseCommand(tool, identity, version.productName);
  auto cancelled = [&options] { return options.cancel && options.cancel->load(); };
  std::wstring output;
  uint32_t exitCode = 0;
  bool stampFailed = false;
  if (!options.timestampUrl.empty()) {
    say(L"İmzalanıyor (zaman damgalı)...");
    const std::wstring command =
        base + L" /tr " + QuoteArgument(options.timestampUrl) + L" /td SHA256 " + QuoteArgument(file);
    if (run(command, output, exitCode, kSignTimeoutMs, options.cancel) && exitCode == 0) return true;
    if (cancelled()) return fail(L"İmzalama başarısız: " + output);
    say(L"Zaman damgalı imza başarısız, damgasız deneniyor: " + output);
    stampFailed = true;
  }
  say(L"İmzalanıyor...");
  output.clear();
  if (!run(base + L" " + QuoteArgument(file), output, exitCode, kSignTimeoutMs, options.cancel) || exitCode != 0)
    return fail(L"İmzalama başarısız: " + output);
  if (stampFailed) say(L"UYARI: zaman damgası eklenemedi; imza sertifika süresi bitince geçersiz sayılır.");
  return true;
}

}  // namespace sv
