#pragma once
// A file only its owner may read, created new: a private key is never written over another file
// nor left readable by others for a moment.
#include <filesystem>
#include <string>

namespace sv {

bool WritePrivateFile(const std::filesystem::path& path, const std::string& bytes,
                      std::string& error);

}  // namespace sv
