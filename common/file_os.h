#pragma once
// The few file system calls the whole-file helpers are built from; each build supplies its own
// (Win32 on Windows, the standard library on the host, where wide paths are written out as UTF-8
// with '\' turned into '/').
#include <cstdint>
#include <string>
#include <vector>

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

// The name the C library opens for `p`: UTF-8, and on the host with '\' turned into '/'.
std::string systemPath(const std::wstring& p);

// The error number of the calling thread's last failed call, in Windows' numbering (GetLastError;
// the host translates its errno).
uint32_t lastError();

// GetFileAttributesExW: also the size and the last write time (FILETIME units).
struct FileInfo {
  bool exists = false;
  bool directory = false;
  bool readOnly = false;
  bool hiddenOrSystem = false;
  uint64_t size = 0;
  uint64_t lastWrite = 0;
};
FileInfo queryFileInfo(const std::wstring& p);
// SetFileAttributesW(FILE_ATTRIBUTE_NORMAL).
bool setNormalAttributes(const std::wstring& p);

// DeleteFileW; false (lastError() tells why) when the file stays.
bool deleteFile(const std::wstring& p);
bool removeDirectory(const std::wstring& p);
// MoveFileExW with replace-existing, and copy-allowed when asked.
bool moveFile(const std::wstring& from, const std::wstring& to, bool allowCopy);

// GetDiskFreeSpaceExW: the bytes the caller may still use on the volume of `p`.
bool freeDiskSpace(const std::wstring& p, uint64_t& bytesOut);
// GetFullPathNameW and GetLongPathNameW: the full path with every component in its long form;
// the full path alone when the long form cannot be had, `p` when not even that.
std::wstring longFullPath(const std::wstring& p);

// True when both paths name one existing file, however spelt (case, "..", short names, links):
// the volume and file index of each (GetFileInformationByHandle); false when either cannot be
// opened.
bool sameFile(const std::wstring& a, const std::wstring& b);

// Creates a temporary file that is deleted on closing: 0 when that worked, else the error.
uint32_t probeWriteAccess(const std::wstring& p);
// Opens an existing file for writing and deleting without sharing: 0 when that worked, else the
// error (a file another program holds gives a sharing or lock violation).
uint32_t probeExclusiveOpen(const std::wstring& p);

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
  // Write access sharing read and write; `truncate` starts the file empty (CREATE_ALWAYS),
  // otherwise an existing file keeps its bytes (OPEN_ALWAYS).
  bool openSharedWrite(const std::wstring& p, bool truncate);
  bool seek(uint64_t offset);
  bool size(uint64_t& sizeOut);
  // Move at most `count` bytes; `doneOut` tells how many moved (0 at the end of a file).
  bool read(void* buffer, uint32_t count, uint32_t& doneOut);
  bool write(const void* buffer, uint32_t count, uint32_t& doneOut);
  // Puts what was written on the disk (FlushFileBuffers), so a rename never outruns the data.
  bool flush();
  // Asks the system to start putting what was written on the disk without waiting for it, so a
  // later flush finds little left to do. Linux has the call; Windows has none that does not
  // wait, and there it does nothing.
  void startWriteback();
  // False when the system reports an error on closing (data may not have reached the disk).
  bool close();

 private:
  void* handle_ = nullptr;
};

}  // namespace sv::os
