#pragma once
// The skin of this run, read from the program's own resources at start-up.

namespace sv {

class SkinDefinition;

// Reads the skin package embedded in `module` (an HMODULE) and builds `skinOut` from it, then
// logs the build's warnings. On failure it logs the reason and shows the error box that tells the
// operator the program was not made by the builder; the caller ends with exit code 1.
bool LoadStartupSkin(void* module, SkinDefinition& skinOut);

}  // namespace sv
