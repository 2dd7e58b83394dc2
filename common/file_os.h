#pragma once
// The few file system calls the whole-file helpers are built from; each build supplies its own
// (Win32 on Windows, the standard library on the host, where wide paths are written out as UTF-8
// with '\' turned into '/').
#include <cstdint>
#include <string>

namespace sv::os {

struct PathAttributes {
  bool exists = false;
  bool directory = false;
  bool readOnly = false;
};

// GetFileAttributesW.
PathAttributes queryAttributes(const std::wstring& p);

enum class CreateDirectoryResult { Created, AlreadyExists, Failed };
CreateDirectoryResult createDirectory(const std::wstring& p);

// Clears the read-only attribute and keeps the others.
bool clearReadOnly(const std::wstring& p);
// Removes a file left behind by a failed operation; the error state of that failure is kept
// (on Windows the last-error code a caller may still read).
void deleteFileQuietly(const std::wstring& p);
// MoveFileExW with MOVEFILE_REPLACE_EXISTING.
bool moveReplacing(const std::wstring& from, const std::wstring& to);

// An open file, closed by its destructor.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // Read access to an existing file, sharing read and write.
  bool openRead(const std::wstring& p);
  // Read access for one pass from start to end, sharing read, write and delete (on Windows a
  // sequential-scan hint too).
  bool openScan(const std::wstring& p);
  // Write access, no sharing, replacing an old file, normal attributes.
  bool createWrite(const std::wstring& p);
  bool size(uint64_t& sizeOut);
  // Move at most `count` bytes; `doneOut` tells how many moved (0 at the end of a file).
  bool read(void* buffer, uint32_t count, uint32_t& doneOut);
  bool write(const void* buffer, uint32_t count, uint32_t& doneOut);
  // Puts what was written on the disk (FlushFileBuffers), so a rename never outruns the data.
  bool flush();
  // False when the system reports an error on closing (data may not have reached the disk).
  bool close();

 private:
  void* handle_ = nullptr;
};

}  // namespace sv::os
