#pragma once
// The embedded web view renders with the newest engine the machine has only when the program is
// listed under FEATURE_BROWSER_EMULATION; without it the control behaves as an old version.

namespace sv {

// Writes this program's emulation value (from the installed Internet Explorer version) unless it
// is already there, and turns navigation sounds off for the process. Registry failures are
// ignored. Call before any web view exists.
void SetBrowserEmulation();

// The value for a major Internet Explorer version: 11001, 10001, 9999, 8888, or 0 for none.
unsigned long BrowserEmulationValue(unsigned major);

}  // namespace sv
