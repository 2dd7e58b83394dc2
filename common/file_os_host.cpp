#include <unistd.h>

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
bool File::openScan(const std::wstring& p) { return openRead(p); }

bool File::createWrite(const std::wstring& p) {
  close();
  handle_ = std::fopen(nativePath(p).c_str(), "wb");
  return handle_ != nullptr;
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
  if (done < count && std::ferror(f)) return false;
  doneOut = uint32_t(done);
  return true;
}

bool File::flush() {
  std::FILE* f = toStream(handle_);
  return f && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
}

bool File::close() {
  std::FILE* f = toStream(handle_);
  handle_ = nullptr;
  return !f || std::fclose(f) == 0;
}

}  // namespace sv::os
