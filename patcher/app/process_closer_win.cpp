#include "patcher/app/process_closer.h"

namespace sv {

// Closing processes with elevated rights is not available in this build: report that nothing
// could be closed, which the asking patcher treats as a failed close.
int CloseHelperMode() { return 2; }

}  // namespace sv
