#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "common/file_os.h"
#include "common/text.h"

namespace sv::os {

namespace fs = std::filesystem;

namespace {

// Paths are composed with '\' throughout the program; the host file system separates with '/'.
fs::path nativePath(const std::wstring& p) {
  std::string bytes = toUtf8(p);
  for (char& c : bytes) {
    if (c == '\\') c = '/';
  }
  return fs::path(bytes);
}

std::FILE* toStream(void* h) { return static_cast<std::FILE*>(h); }

thread_local uint32_t tLastError = 0;

// errno in Windows' numbering, for the texts and decisions that know Windows' numbers.
uint32_t WindowsCode(int error) {
  switch (error) {
    case 0: return 0;
    case ENOENT: return 2;            // ERROR_FILE_NOT_FOUND
    case ENOTDIR: return 3;           // ERROR_PATH_NOT_FOUND
    case EMFILE: case ENFILE: return 4;  // ERROR_TOO_MANY_OPEN_FILES
    case EACCES: case EPERM: case EROFS: case EISDIR: return 5;  // ERROR_ACCESS_DENIED
    case ENOMEM: return 8;            // ERROR_NOT_ENOUGH_MEMORY
    case EBUSY: case ETXTBSY: return 32;  // ERROR_SHARING_VIOLATION
    case EEXIST: return 183;          // ERROR_ALREADY_EXISTS
    case ENOSPC: case EDQUOT: return 112;  // ERROR_DISK_FULL
    case EFBIG: return 223;           // ERROR_FILE_TOO_LARGE
    case ENAMETOOLONG: return 206;    // ERROR_FILENAME_EXCED_RANGE
    case ENOTEMPTY: return 145;       // ERROR_DIR_NOT_EMPTY
    case EXDEV: return 17;            // ERROR_NOT_SAME_DEVICE
    default: return 31;               // ERROR_GEN_FAILURE
  }
}

bool Failed(int error) {
  tLastError = WindowsCode(error);
  return false;
}

bool Failed(const std::error_code& error) { return Failed(error.value()); }

uint64_t FileTimeOf(const struct stat& st) {
  // FILETIME units (100 ns since 1601), as the cache stores them on Windows.
  return uint64_t(st.st_mtim.tv_sec) * 10000000u + uint64_t(st.st_mtim.tv_nsec) / 100u +
         116444736000000000ull;
}

std::wstring WidePath(const fs::path& p) {
  std::wstring wide = toWide(p.string());
  for (wchar_t& c : wide) {
    if (c == L'/') c = L'\\';
  }
  return wide;
}

constexpr fs::perms kWriteBits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;

}  // namespace

PathAttributes queryAttributes(const std::wstring& p) {
  std::error_code error;
  const fs::file_status status = fs::status(nativePath(p), error);
  if (error || !fs::exists(status)) return {};
  // Windows' read-only attribute corresponds to a file nobody may write to.
  return {true, fs::is_directory(status), (status.permissions() & kWriteBits) == fs::perms::none};
}

CreateDirectoryResult createDirectory(const std::wstring& p) {
  const fs::path path = nativePath(p);
  std::error_code error;
  if (fs::create_directory(path, error)) return CreateDirectoryResult::Created;
  std::error_code existsError;
  if (fs::exists(fs::symlink_status(path, existsError))) return CreateDirectoryResult::AlreadyExists;
  return CreateDirectoryResult::Failed;
}

bool clearReadOnly(const std::wstring& p) {
  std::error_code error;
  fs::permissions(nativePath(p), fs::perms::owner_write, fs::perm_options::add, error);
  return !error;
}

void deleteFileQuietly(const std::wstring& p) {
  std::error_code error;
  fs::remove(nativePath(p), error);
}

bool moveReplacing(const std::wstring& from, const std::wstring& to) {
  const fs::path target = nativePath(to);
  std::error_code error;
  // rename() would also replace an empty directory; MoveFileExW never replaces a directory.
  if (fs::is_directory(target, error)) return false;
  fs::rename(nativePath(from), target, error);
  return !error;
}

uint32_t lastError() { return tLastError; }

std::string systemPath(const std::wstring& p) { return nativePath(p).string(); }

FileInfo queryFileInfo(const std::wstring& p) {
  struct stat st;
  if (::stat(nativePath(p).c_str(), &st) != 0) {
    Failed(errno);
    return {};
  }
  FileInfo info;
  info.exists = true;
  info.directory = S_ISDIR(st.st_mode);
  info.readOnly = (st.st_mode & 0222) == 0;
  info.size = info.directory ? 0 : uint64_t(st.st_size);
  info.lastWrite = FileTimeOf(st);
  return info;
}

bool setNormalAttributes(const std::wstring& p) { return clearReadOnly(p); }

bool deleteFile(const std::wstring& p) {
  const fs::path path = nativePath(p);
  struct stat st;
  // DeleteFileW never removes a folder.
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Failed(EACCES);
  return ::unlink(path.c_str()) == 0 || Failed(errno);
}

bool removeDirectory(const std::wstring& p) {
  return ::rmdir(nativePath(p).c_str()) == 0 || Failed(errno);
}

bool moveFile(const std::wstring& from, const std::wstring& to, bool allowCopy) {
  const fs::path source = nativePath(from);
  const fs::path target = nativePath(to);
  std::error_code error;
  if (fs::is_directory(target, error)) return Failed(EACCES);
  if (::rename(source.c_str(), target.c_str()) == 0) return true;
  if (errno != EXDEV || !allowCopy) return Failed(errno);
  fs::copy_file(source, target, fs::copy_options::overwrite_existing, error);
  if (error) return Failed(error);
  fs::remove(source, error);
  return true;
}


bool freeDiskSpace(const std::wstring& p, uint64_t& bytesOut) {
  struct statvfs v;
  if (::statvfs(nativePath(p).c_str(), &v) != 0) return Failed(errno);
  bytesOut = uint64_t(v.f_bavail) * uint64_t(v.f_frsize);
  return true;
}

std::wstring longFullPath(const std::wstring& p) {
  std::error_code error;
  const fs::path full = fs::absolute(nativePath(p), error);
  if (error) return p;
  return WidePath(full.lexically_normal());
}

bool sameFile(const std::wstring& a, const std::wstring& b) {
  std::error_code error;
  return fs::equivalent(nativePath(a), nativePath(b), error) && !error;
}

uint32_t probeWriteAccess(const std::wstring& p) {
  const fs::path path = nativePath(p);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return WindowsCode(errno);
  ::unlink(path.c_str());
  ::close(fd);
  return 0;
}

uint32_t probeExclusiveOpen(const std::wstring& p) {
  const int fd = ::open(nativePath(p).c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return WindowsCode(errno);
  // Host programs share files freely; one holding a write lock on it is the nearest to a holder.
  struct flock probe = {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  const bool held = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
  ::close(fd);
  return held ? 33 /* ERROR_LOCK_VIOLATION */ : 0;
}

File::~File() { close(); }

bool File::openRead(const std::wstring& p) {
  close();
  const fs::path path = nativePath(p);
  std::error_code error;
  // fopen would open a directory here, unlike CreateFileW.
  if (!fs::is_regular_file(path, error)) return false;
  handle_ = std::fopen(path.c_str(), "rb");
  return handle_ != nullptr;
}

// Sharing modes and scan hints have no equivalent here.
bool File::createWrite(const std::wstring& p) {
  close();
  handle_ = std::fopen(nativePath(p).c_str(), "wb");
  return handle_ != nullptr;
}

bool File::openSharedWrite(const std::wstring& p, bool truncate) {
  close();
  const int fd = ::open(nativePath(p).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (truncate ? O_TRUNC : 0), 0666);
  if (fd < 0) return Failed(errno);
  handle_ = ::fdopen(fd, "wb");
  if (!handle_) {
    Failed(errno);
    ::close(fd);
    return false;
  }
  // Unbuffered, as WriteFile is: a full disk fails the write that meets it, not a later close.
  std::setvbuf(toStream(handle_), nullptr, _IONBF, 0);
  return true;
}

bool File::openScan(const std::wstring& p) {
  if (!openRead(p)) return Failed(errno);
  return true;
}

bool File::seek(uint64_t offset) {
  std::FILE* f = toStream(handle_);
  return (f && ::fseeko(f, off_t(offset), SEEK_SET) == 0) || Failed(errno);
}

bool File::size(uint64_t& sizeOut) {
  std::FILE* f = toStream(handle_);
  if (!f || std::fseek(f, 0, SEEK_END) != 0) return false;
  const long end = std::ftell(f);
  if (end < 0 || std::fseek(f, 0, SEEK_SET) != 0) return false;
  sizeOut = uint64_t(end);
  return true;
}

bool File::read(void* buffer, uint32_t count, uint32_t& doneOut) {
  std::FILE* f = toStream(handle_);
  if (!f) return false;
  const size_t done = std::fread(buffer, 1, count, f);
  if (done < count && std::ferror(f)) return false;
  doneOut = uint32_t(done);
  return true;
}

bool File::write(const void* buffer, uint32_t count, uint32_t& doneOut) {
  std::FILE* f = toStream(handle_);
  if (!f) return false;
  const size_t done = std::fwrite(buffer, 1, count, f);
  if (done < count && std::ferror(f)) return Failed(errno);
  doneOut = uint32_t(done);
  return true;
}

bool File::flush() {
  std::FILE* f = toStream(handle_);
  return (f && std::fflush(f) == 0 && fsync(fileno(f)) == 0) || Failed(errno);
}

void File::startWriteback() {
  std::FILE* f = toStream(handle_);
  if (f && std::fflush(f) == 0) sync_file_range(fileno(f), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool File::close() {
  std::FILE* f = toStream(handle_);
  handle_ = nullptr;
  return !f || std::fclose(f) == 0 || Failed(errno);
}

}  // namespace sv::os
