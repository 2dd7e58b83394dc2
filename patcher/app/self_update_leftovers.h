#pragma once
// Removal of the previous program file that a self-update renamed to "<name>.old".
#include <string>

namespace sv {

// Deletes "<temp folder>\<program file name>.old" and "<program path>.old" when they exist. The
// old copy may still be ending, so each is tried up to 40 times, 100 ms apart. Failure is silent.
void RemoveSelfUpdateLeftovers(const std::wstring& tempFolder, const std::wstring& programPath);

}  // namespace sv
