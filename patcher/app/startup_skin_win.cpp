#include <windows.h>

#include "common/path.h"
#include "patcher/app/startup_skin.h"
#include "skin/skin_package.h"

namespace sv {

bool LoadStartupSkin(void* module, SkinDefinition& skinOut) {
  std::wstring boxText;
  const bool loaded = BuildStartupSkin(
      [module](SkinPackage& package, std::wstring* errorOut) {
        return package.loadEmbedded(module, errorOut);
      },
      skinOut, boxText);
  if (!loaded) MessageBoxW(nullptr, boxText.c_str(), fileStem(modulePath()).c_str(), MB_ICONERROR);
  return loaded;
}

}  // namespace sv
