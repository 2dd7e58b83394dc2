#pragma once
// What the update engine takes from the skin, held by value: a run that outlives the window (and
// its skin) after Shutdown still reads texts and settings of its own.
#include <string>
#include <string_view>
#include <vector>

#include "skin/locale_table.h"
#include "skin/patcher_settings.h"

namespace sv {

class SkinDefinition;

struct EngineSkin {
  EngineSkin() = default;
  explicit EngineSkin(const SkinDefinition& skin);

  std::wstring text(std::string_view key) const { return locale.text(key); }
  std::wstring format(std::string_view key, const std::vector<std::wstring>& args) const {
    return locale.format(key, args);
  }

  LocaleTable locale;
  PatcherSettings settings;
  std::wstring remoteConfigPath;
  std::wstring localConfigPath;
};

}  // namespace sv
