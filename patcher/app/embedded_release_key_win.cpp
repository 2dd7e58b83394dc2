#include <windows.h>

#include <string_view>

#include "patcher/app/embedded_release_key.h"
#include "patcher/app/resource_ids.h"

namespace sv {

EmbeddedKey ReadEmbeddedReleaseKey(ReleaseKey& key) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(kResReleaseKey), RT_RCDATA);
  if (!resource) return EmbeddedKey::kNone;
  // Resource memory belongs to the module and needs no release.
  HGLOBAL loaded = LoadResource(nullptr, resource);
  const DWORD size = SizeofResource(nullptr, resource);
  const char* bytes = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
  if (!bytes || !ParseReleaseKeyText(std::string_view(bytes, size), key)) {
    key = ReleaseKey();
    return EmbeddedKey::kDamaged;
  }
  return EmbeddedKey::kValid;
}

}  // namespace sv
