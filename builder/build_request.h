#pragma once
// One patcher build: what goes into the template's copy, and what came out.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "builder/version_block.h"

namespace sv {

struct BuildRequest {
  std::wstring templatePath;  // the builder's folder + "Sarvik.Template.exe"
  std::wstring outputPath;
  std::string iconBytes;      // a whole .ico file, or empty to keep the template's icon
  std::string packageBytes;   // the serialised skin package
  VersionFields version;
  bool sign = false;
  std::wstring pfxPath;
  std::wstring pfxPassword;   // never stored anywhere
  std::wstring timestampUrl;
  std::wstring signToolPath;  // empty: look for the SDK's tool
  std::string releaseKey;     // the operator's release key as ReleaseKeyText, or empty (unsigned)
  const std::atomic<bool>* cancel = nullptr;  // set by the operator: the build stops, nothing is written
};

struct BuildResult {
  bool ok = false;
  std::wstring message;
  uint32_t crc32 = 0;
  uint64_t size = 0;
  bool isSigned = false;
};

// Called with the caller's context and one progress line per step.
using BuildLogFn = void (*)(void* context, const std::wstring& line);

// Copies the template beside the output, writes the package, the version block and the icon into
// the copy's resources, reads the package back, signs when asked and only then moves the copy
// onto the output. Any failure removes the copy and leaves the output as it was. Windows only.
BuildResult BuildPatcher(const BuildRequest& request, BuildLogFn log, void* context);

// What the build stores beside the package (RT_RCDATA 901): the CRC-32 of every package byte
// before its own CRC field. The package ends with that CRC, and by CRC-32's residue property the
// CRC of a file holding such a block is blind to every same-length change inside it: patchers
// differing by one byte of an address or a switch would share their file CRC (sv_patcher_crc32)
// and the newer one would never replace the older. The same value outside the block puts every
// change of the package into the file's CRC; the patcher never reads it.
std::string PackageDigest(std::string_view package);

// The line of a build ended by the operator.
constexpr const wchar_t* kBuildCancelledText = L"Oluşturma iptal edildi.";

// The warning of a build without a release key: what an unsigned release lets a network do.
constexpr const wchar_t* kUnsignedReleaseWarning =
    L"UYARI: sürüm anahtarı (release_key) yok — imzasız sürümlerde ağ yolundaki herkes patcher'a, CRC-32'si "
    L"uyan herhangi bir dosyayı kurdurup başlattırabilir.";

// The template's name beside the builder.
constexpr const wchar_t* kTemplateFileName = L"Sarvik.Template.exe";

}  // namespace sv
