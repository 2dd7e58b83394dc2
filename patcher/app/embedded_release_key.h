#pragma once
// The operator's release key that the builder wrote into this patcher (absent in a patcher built
// without one).
#include "release/release_key.h"

namespace sv {

enum class EmbeddedKey { kNone, kValid, kDamaged };

// Reads the key resource of the running program. A damaged key is reported as such so that the
// caller fails closed rather than updating unsigned.
EmbeddedKey ReadEmbeddedReleaseKey(ReleaseKey& key);

}  // namespace sv
