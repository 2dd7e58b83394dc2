#include <windows.h>

#include "common/file_os.h"

namespace sv::os {

namespace {

HANDLE toHandle(void* h) { return h ? static_cast<HANDLE>(h) : INVALID_HANDLE_VALUE; }
void* fromHandle(HANDLE h) { return h == INVALID_HANDLE_VALUE ? nullptr : h; }

}  // namespace

PathAttributes queryAttributes(const std::wstring& p) {
  const DWORD attributes = GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};
  return {true, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, (attributes & FILE_ATTRIBUTE_READONLY) != 0};
}

CreateDirectoryResult createDirectory(const std::wstring& p) {
  if (CreateDirectoryW(p.c_str(), nullptr)) return CreateDirectoryResult::Created;
  return GetLastError() == ERROR_ALREADY_EXISTS ? CreateDirectoryResult::AlreadyExists
                                                : CreateDirectoryResult::Failed;
}

bool clearReadOnly(const std::wstring& p) {
  const DWORD attributes = GetFileAttributesW(p.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  DWORD cleared = attributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
  if (cleared == 0) cleared = FILE_ATTRIBUTE_NORMAL;  // zero would mean "no change"
  return SetFileAttributesW(p.c_str(), cleared) != 0;
}

void deleteFileQuietly(const std::wstring& p) {
  const DWORD error = GetLastError();
  DeleteFileW(p.c_str());
  SetLastError(error);
}

bool moveReplacing(const std::wstring& from, const std::wstring& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

File::~File() { close(); }

bool File::openRead(const std::wstring& p) {
  close();
  handle_ = fromHandle(CreateFileW(p.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return handle_ != nullptr;
}

bool File::openScan(const std::wstring& p) {
  close();
  handle_ = fromHandle(CreateFileW(p.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  return handle_ != nullptr;
}

bool File::createWrite(const std::wstring& p) {
  close();
  handle_ = fromHandle(
      CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return handle_ != nullptr;
}

bool File::size(uint64_t& sizeOut) {
  LARGE_INTEGER size;
  if (!handle_ || !GetFileSizeEx(toHandle(handle_), &size) || size.QuadPart < 0) return false;
  sizeOut = uint64_t(size.QuadPart);
  return true;
}

bool File::read(void* buffer, uint32_t count, uint32_t& doneOut) {
  DWORD done = 0;
  if (!handle_ || !ReadFile(toHandle(handle_), buffer, count, &done, nullptr)) return false;
  doneOut = done;
  return true;
}

bool File::write(const void* buffer, uint32_t count, uint32_t& doneOut) {
  DWORD done = 0;
  if (!handle_ || !WriteFile(toHandle(handle_), buffer, count, &done, nullptr)) return false;
  doneOut = done;
  return true;
}

bool File::flush() { return handle_ && FlushFileBuffers(toHandle(handle_)) != 0; }

bool File::close() {
  if (!handle_) return true;
  const bool ok = CloseHandle(toHandle(handle_)) != 0;
  handle_ = nullptr;
  return ok;
}

}  // namespace sv::os
