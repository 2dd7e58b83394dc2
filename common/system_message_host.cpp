// The host has no message table for Windows error codes; the codes with a plain C library
// counterpart get that library's text, the rest none (systemErrorText then shows the number).
#include <system_error>

#include "common/system_message.h"
#include "common/text.h"

namespace sv {

namespace {

struct CodeMapping {
  uint32_t windowsCode;
  std::errc condition;
};

constexpr CodeMapping kMappings[] = {
    {2, std::errc::no_such_file_or_directory},  // ERROR_FILE_NOT_FOUND
    {3, std::errc::no_such_file_or_directory},  // ERROR_PATH_NOT_FOUND
    {5, std::errc::permission_denied},          // ERROR_ACCESS_DENIED
    {8, std::errc::not_enough_memory},          // ERROR_NOT_ENOUGH_MEMORY
    {32, std::errc::device_or_resource_busy},   // ERROR_SHARING_VIOLATION
    {33, std::errc::device_or_resource_busy},   // ERROR_LOCK_VIOLATION
    {39, std::errc::no_space_on_device},        // ERROR_HANDLE_DISK_FULL
    {80, std::errc::file_exists},               // ERROR_FILE_EXISTS
    {112, std::errc::no_space_on_device},       // ERROR_DISK_FULL
    {183, std::errc::file_exists},              // ERROR_ALREADY_EXISTS
};

}  // namespace

std::wstring rawSystemMessage(uint32_t code) {
  for (const CodeMapping& m : kMappings) {
    if (m.windowsCode == code) return toWide(std::make_error_code(m.condition).message());
  }
  return {};
}

}  // namespace sv
