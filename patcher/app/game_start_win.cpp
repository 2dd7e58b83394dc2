#include "patcher/app/game_start.h"

namespace sv {

// Elevated game start is not available in this build: the role ends at once with a failure code,
// so the non-elevated patcher that asked for it reports that the game did not start.
int RunSwitchMode(const std::wstring& /*gameFolder*/) { return 2; }

}  // namespace sv
