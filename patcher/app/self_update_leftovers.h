#pragma once
// What a self-update leaves once the new patcher has shown it runs, and the way back when it
// cannot.
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

// Deletes the self-update's leftovers (SelfUpdateLeftovers: the previous build ".old" in the temp
// folder or beside the program, partial copies, a helper copy, a staged new file) when they
// exist, clearing a read-only attribute first. The previous build may still be ending (the swap
// helper runs from it), so each is tried up to 40 times, 100 ms apart. Failure is silent.
void RemoveSelfUpdateLeftovers(const std::wstring& tempFolder, const std::wstring& programPath);

// Tries files one after another with those retries; `remove` deletes one and says whether it is
// gone, `pause` waits between tries. For tests and for RemoveSelfUpdateLeftovers.
void RemoveWithRetries(const std::vector<std::wstring>& paths,
                       bool (*remove)(const std::wstring& path), void (*pause)(uint32_t ms));

}  // namespace sv
