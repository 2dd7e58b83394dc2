#include "patcher/app/startup_skin.h"
#include "skin/skin_package.h"

namespace sv {

bool LoadStartupSkin(void* module, SkinDefinition& skinOut, std::wstring& boxText) {
  return BuildStartupSkin(
      [module](SkinPackage& package, std::wstring* errorOut) {
        return package.loadEmbedded(module, errorOut);
      },
      skinOut, boxText);
}

}  // namespace sv
