#pragma once
// Where the programs take their system DLLs from. Windows only.

namespace sv {

// Call first in wWinMain, before any other code of the program runs: every delay-loaded system
// DLL then comes from the system folder, and so does every DLL loaded later without a full path
// (where Windows has SetDefaultDllDirectories). A DLL planted beside the program, by another
// program or a file list, is never loaded into it, in any of its roles.
void LoadSystemDllsFromSystemFolderOnly();

}  // namespace sv
