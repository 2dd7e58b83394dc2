#pragma once
// The skin of this run, read from the program's own resources at start-up.
#include <functional>
#include <string>

namespace sv {

class SkinDefinition;
class SkinPackage;

// Fills a package (false with the reason when it cannot).
using SkinPackageReader = std::function<bool(SkinPackage& package, std::wstring* errorOut)>;

// Builds `skinOut` from the package `read` fills, then logs the build's warnings. On failure it
// logs the reason, puts the text of the error box that tells the operator the program was not
// made by the builder into `boxText`, and returns false.
bool BuildStartupSkin(const SkinPackageReader& read, SkinDefinition& skinOut,
                      std::wstring& boxText);

// BuildStartupSkin on the package embedded in `module` (an HMODULE). On failure the error box's
// text goes to `boxText`, for the caller to show unless the previous patcher build is put back
// instead; the caller then ends with exit code 1. Windows only.
bool LoadStartupSkin(void* module, SkinDefinition& skinOut, std::wstring& boxText);

}  // namespace sv
