#include "publisher/private_file.h"

#include <windows.h>

namespace sv {

// The folder's inherited access applies: on Windows the user's own folders are private already.
bool WritePrivateFile(const std::filesystem::path& path, const std::string& bytes,
                      std::string& error) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    error = "cannot create " + path.string();
    return false;
  }
  DWORD written = 0;
  const bool ok = WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr) &&
                  written == bytes.size() && FlushFileBuffers(file);
  CloseHandle(file);
  if (!ok) {
    DeleteFileW(path.c_str());
    error = "cannot write " + path.string();
  }
  return ok;
}

}  // namespace sv
