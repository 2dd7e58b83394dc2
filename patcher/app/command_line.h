#pragma once
// Switches on the patcher's command line ("--sv-run", "--preview", ...).

namespace sv {

// True when an argument after the program name equals `name`, ignoring case (whole arguments only).
bool HasSwitch(const wchar_t* name);
// The same test on a given command line, split the way the shell splits it.
bool CommandLineHasSwitch(const wchar_t* commandLine, const wchar_t* name);

}  // namespace sv
