#pragma once
// Between std::filesystem paths and the program's text: UTF-8 for file lists and messages, wide
// strings for the shared file functions.
#include <filesystem>
#include <string>
#include <string_view>

namespace sv {

std::filesystem::path PathFromUtf8(std::string_view utf8);
// False when the name cannot be written as UTF-8 (invalid UTF-16 on Windows, bytes that are not
// UTF-8 elsewhere).
bool Utf8FromPath(const std::filesystem::path& p, std::string& out);
// The same with '/' as the separator on every system.
bool GenericUtf8FromPath(const std::filesystem::path& p, std::string& out);
// The path for the shared wide-path file functions; empty when it has no UTF-8 form.
std::wstring WideFromPath(const std::filesystem::path& p);

}  // namespace sv
