#include <windows.h>

#include "skin/skin_package.h"

namespace sv {

bool SkinPackage::loadEmbedded(void* module, std::wstring* errorOut) {
  entries.clear();
  HMODULE hmodule = static_cast<HMODULE>(module);
  HRSRC resource = FindResourceW(hmodule, MAKEINTRESOURCEW(kSkinResourceId), RT_RCDATA);
  if (!resource) {
    if (errorOut) *errorOut = L"Gomulu skin yok.";
    return false;
  }
  // Resource memory belongs to the module and needs no release.
  HGLOBAL loaded = LoadResource(hmodule, resource);
  const DWORD size = SizeofResource(hmodule, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) {
    if (errorOut) *errorOut = L"Gomulu skin okunamadi.";
    return false;
  }
  return parse(bytes, size, errorOut);
}

}  // namespace sv
