#pragma once
// One request from one session: the headless build and the window's build thread both assemble
// their BuildRequest here, so the same values always give the same patcher.
#include <string>

#include "builder/build_request.h"
#include "builder/session.h"
#include "builder/skin_import.h"

namespace sv {

constexpr uint64_t kIconFileMaxSize = 16777216;

// The icon file as the build embeds it: an .ico with a valid header as it is, any other image
// converted. False with "Simge okunamadı." or "Simge dönüştürülemedi: " + reason.
bool ReadIconForBuild(const std::wstring& path, std::string& icoOut, std::wstring* errorOut);

constexpr uint64_t kReleaseKeyFileMaxSize = 65536;

// The operator's public release key (a PEM "PUBLIC KEY" of P-256, as SarvikPublish keygen writes
// KEY.pub) as the patcher holds it: ReleaseKeyText, one line. False with a line that names the
// file and the reason.
bool ReadReleaseKeyForBuild(const std::wstring& path, std::string& textOut, std::wstring* errorOut);

// Version texts, signing choices, icon, release key and the edited skin package for the output
// path; the start checks run first. False with the message that ends the build.
bool AssembleBuildRequest(const BuilderSession& session, const SkinImport& skin, const std::wstring& templatePath,
                          const std::wstring& outputPath, const std::wstring& password, BuildRequest& requestOut,
                          std::wstring* errorOut);

}  // namespace sv
