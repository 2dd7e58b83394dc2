#pragma once
// The operating system's own text for an error code, as the system gives it (untrimmed); empty
// when the system has none. systemErrorText builds the user-visible form from it.
#include <cstdint>
#include <string>

namespace sv {

std::wstring rawSystemMessage(uint32_t code);

}  // namespace sv
