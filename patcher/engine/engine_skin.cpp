#include "patcher/engine/engine_skin.h"

#include "skin/skin_definition.h"

namespace sv {

EngineSkin::EngineSkin(const SkinDefinition& skin)
    : locale(skin.locale),
      settings(skin.settings),
      remoteConfigPath(skin.remoteConfigPath),
      localConfigPath(skin.localConfigPath) {}

}  // namespace sv
