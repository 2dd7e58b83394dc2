#include <windows.h>

#include <string>
#include <vector>

#include "common/file_os.h"
#include "common/text.h"

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

uint32_t lastError() { return GetLastError(); }

std::string systemPath(const std::wstring& p) { return toUtf8(p); }

namespace {

uint64_t FileTimeValue(const FILETIME& t) {
  return (uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

FileInfo queryFileInfo(const std::wstring& p) {
  WIN32_FILE_ATTRIBUTE_DATA a;
  if (!GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &a)) return {};
  FileInfo info;
  info.exists = true;
  info.directory = (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  info.readOnly = (a.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
  info.hiddenOrSystem = (a.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
  info.size = (uint64_t(a.nFileSizeHigh) << 32) | a.nFileSizeLow;
  info.lastWrite = FileTimeValue(a.ftLastWriteTime);
  return info;
}

bool setNormalAttributes(const std::wstring& p) {
  return SetFileAttributesW(p.c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool deleteFile(const std::wstring& p) { return DeleteFileW(p.c_str()) != 0; }

bool removeDirectory(const std::wstring& p) { return RemoveDirectoryW(p.c_str()) != 0; }

bool moveFile(const std::wstring& from, const std::wstring& to, bool allowCopy) {
  return MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | (allowCopy ? MOVEFILE_COPY_ALLOWED : 0)) != 0;
}

bool freeDiskSpace(const std::wstring& p, uint64_t& bytesOut) {
  ULARGE_INTEGER available;
  if (!GetDiskFreeSpaceExW(p.c_str(), &available, nullptr, nullptr)) return false;
  bytesOut = available.QuadPart;
  return true;
}

std::wstring longFullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  DWORD n = GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
  if (n >= full.size()) {
    full.resize(n);
    n = GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
  }
  if (n == 0 || n >= full.size()) return path;
  full.resize(n);
  std::wstring longer(MAX_PATH, L'\0');
  n = GetLongPathNameW(full.c_str(), longer.data(), DWORD(longer.size()));
  if (n >= longer.size()) {
    longer.resize(n);
    n = GetLongPathNameW(full.c_str(), longer.data(), DWORD(longer.size()));
  }
  if (n == 0 || n >= longer.size()) return full;
  longer.resize(n);
  return longer;
}

namespace {

bool FileIdentity(const std::wstring& p, BY_HANDLE_FILE_INFORMATION& info) {
  HANDLE h = CreateFileW(p.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  return ok;
}

}  // namespace

bool sameFile(const std::wstring& a, const std::wstring& b) {
  BY_HANDLE_FILE_INFORMATION first, second;
  return FileIdentity(a, first) && FileIdentity(b, second) &&
         first.dwVolumeSerialNumber == second.dwVolumeSerialNumber &&
         first.nFileIndexHigh == second.nFileIndexHigh && first.nFileIndexLow == second.nFileIndexLow;
}

uint32_t probeWriteAccess(const std::wstring& p) {
  HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(h);
  return 0;
}

uint32_t probeExclusiveOpen(const std::wstring& p) {
  HANDLE h = CreateFileW(p.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(h);
  return 0;
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

bool File::openSharedWrite(const std::wstring& p, bool truncate) {
  close();
  handle_ = fromHandle(CreateFileW(p.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, truncate ? CREATE_ALWAYS : OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  return handle_ != nullptr;
}

bool File::seek(uint64_t offset) {
  LARGE_INTEGER to;
  to.QuadPart = LONGLONG(offset);
  return handle_ && SetFilePointerEx(toHandle(handle_), to, nullptr, FILE_BEGIN) != 0;
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

void File::startWriteback() {}

bool File::close() {
  if (!handle_) return true;
  const bool ok = CloseHandle(toHandle(handle_)) != 0;
  handle_ = nullptr;
  return ok;
}

}  // namespace sv::os
