#pragma once
// What a headless build checks in a session before it builds, so that an operator's slip fails
// the build with a line naming the fix instead of building a patcher that fails on every player:
// every key is one the builder knows (a typo names the nearest key), every link key names a
// button of the skin, and every address is an http:// or https:// address. It also lists the
// addresses the patcher will use and says which of them came from the skin.
#include <string>
#include <string_view>
#include <vector>

#include "builder/session.h"
#include "builder/skin_import.h"

namespace sv {

// The usage of the headless build with every session key, its unit and its default.
std::wstring HeadlessUsageText();

// The known key nearest to `key` by edit distance (ignoring case), or "" when none is near.
std::string NearestKey(std::string_view key, const std::vector<std::string>& known);

// The keys that name a value by what it is rather than by where the skin keeps it: news_url is
// the news page (iframe_url), register_url the register button (URL_NEW) whatever its key. Each is
// moved onto the key it stands for; the error line when the skin has no register button.
bool ResolveKeyAliases(BuilderSession& session, const SkinImport& skin, std::wstring* errorOut);

// The first unknown key or link key without a button, as the line the build fails with; "" when
// every key is known. Keys of links: "link.ID" or "lang.KEY" of the skin, or "link.N" (N the
// control's position, the form of older sessions).
std::wstring CheckSessionKeys(const BuilderSession& session, const SkinImport& skin);

struct EffectiveAddress {
  std::string key;       // the session key that sets it
  std::wstring url;      // what the patcher will use
  bool fromSkin = false;  // the session does not set it
};

// The configuration (always first), news page, feed and every button address the patcher will use.
std::vector<EffectiveAddress> EffectiveAddresses(const SkinImport& skin, const BuilderSession& session);

// The first address that is not an http:// or https:// address (an empty link or feed is fine,
// an empty configuration address is not), as the line the build fails with; "" when all are.
std::wstring CheckAddresses(const std::vector<EffectiveAddress>& addresses);

}  // namespace sv
