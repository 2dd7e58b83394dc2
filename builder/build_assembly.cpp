#include "builder/build_assembly.h"

#include "builder/icon_file.h"
#include "builder/le_bytes.h"
#include "common/crc32.h"
#include "common/file.h"
#include "common/text.h"
#include "release/release_key.h"

namespace sv {

namespace {

bool EndsWithNoCase(const std::wstring& text, std::wstring_view suffix) {
  return text.size() >= suffix.size() && equalsNoCase(std::wstring_view(text).substr(text.size() - suffix.size()), suffix);
}

bool Fail(std::wstring* errorOut, std::wstring message) {
  if (errorOut) *errorOut = std::move(message);
  return false;
}

}  // namespace

std::string PackageDigest(std::string_view package) {
  std::string digest;
  PutLe32(digest, Crc32(package.data(), package.size() < 4 ? 0 : package.size() - 4));
  return digest;
}

bool ReadIconForBuild(const std::wstring& path, std::string& icoOut, std::wstring* errorOut) {
  std::string bytes;
  if (!isFile(path) || !readWholeFile(path, kIconFileMaxSize, bytes)) return Fail(errorOut, L"Simge okunamadı.");
  if (EndsWithNoCase(path, L".ico") && HasIcoHeader(bytes)) {
    icoOut = std::move(bytes);
    return true;
  }
  std::wstring reason;
  if (!ConvertImageToIcon(bytes, icoOut, &reason)) return Fail(errorOut, L"Simge dönüştürülemedi: " + reason);
  return true;
}

bool ReadReleaseKeyForBuild(const std::wstring& path, std::string& textOut, std::wstring* errorOut) {
  std::string pem;
  if (!isFile(path) || !readWholeFile(path, kReleaseKeyFileMaxSize, pem))
    return Fail(errorOut, L"Sürüm anahtarı okunamadı: " + path);
  ReleaseKey key;
  std::string reason;
  if (!ParseReleaseKeyPem(pem, key, reason)) {
    // The reader's reasons, in the builder's language.
    std::wstring why = toWide(reason);
    if (reason.find("private key") != std::string::npos) why = L"bu bir özel anahtar; açık anahtarı (.pub) verin";
    else if (reason.find("not a PEM") != std::string::npos) why = L"PEM açık anahtar değil (BEGIN PUBLIC KEY yok)";
    else if (reason.find("base64") != std::string::npos) why = L"PEM bloğu geçerli base64 değil";
    else if (reason.find("P-256") != std::string::npos) why = L"ECDSA P-256 açık anahtarı değil";
    return Fail(errorOut, L"Sürüm anahtarı geçersiz: " + path + L" — " + why);
  }
  textOut = ReleaseKeyText(key);
  return true;
}

bool AssembleBuildRequest(const BuilderSession& session, const SkinImport& skin, const std::wstring& templatePath,
                          const std::wstring& outputPath, const std::wstring& password, BuildRequest& request,
                          std::wstring* errorOut) {
  request = BuildRequest{};
  request.templatePath = templatePath;
  request.outputPath = outputPath;
  request.version = SessionVersion(session, outputPath);
  request.sign = session.has("sign") && session.values.at("sign") == "1";
  request.pfxPath = trim(session.text("sign_pfx"));
  request.pfxPassword = password;
  request.timestampUrl = trim(session.text("sign_ts"));

  std::wstring error;
  const std::wstring iconPath = session.text("icon");
  if (!iconPath.empty() && !ReadIconForBuild(iconPath, request.iconBytes, &error))
    return Fail(errorOut, error + L" (" + iconPath + L")");
  const std::wstring releaseKeyPath = trim(session.text("release_key"));
  if (!releaseKeyPath.empty() && !ReadReleaseKeyForBuild(releaseKeyPath, request.releaseKey, &error))
    return Fail(errorOut, error);
  if (std::wstring refusal = CheckBuildStart(templatePath, outputPath, request.sign, request.pfxPath);
      !refusal.empty())
    return Fail(errorOut, refusal);
  if (!BuildSkinPackage(skin, SessionFields(skin, session), request.packageBytes, &error))
    return Fail(errorOut, error);
  return true;
}

}  // namespace sv
