#include <windows.h>

#include "release/lz_stream.h"

namespace sv {

FileReader::~FileReader() { Close(); }

bool FileReader::OpenRead(const std::wstring& path) {
  Close();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

void FileReader::Close() {
  if (!handle_) return;
  CloseHandle(handle_);
  handle_ = nullptr;
}

uint32_t FileReader::Read(void* buffer, uint32_t capacity) {
  if (!handle_) return 0;
  DWORD done = 0;
  if (!ReadFile(handle_, buffer, capacity, &done, nullptr)) return 0;
  return done;
}

FileWriter::~FileWriter() { Close(); }

bool FileWriter::OpenWrite(const std::wstring& path, uint32_t* errorOut) {
  Close();
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (errorOut) *errorOut = GetLastError();
    return false;
  }
  handle_ = h;
  return true;
}

bool FileWriter::Flush() { return handle_ && FlushFileBuffers(handle_) != FALSE; }

bool FileWriter::Close() {
  if (!handle_) return true;
  // Buffered data may only fail to reach the disk here.
  const BOOL closed = CloseHandle(handle_);
  handle_ = nullptr;
  return closed != FALSE;
}

bool FileWriter::Write(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    if (!handle_) return false;
    const DWORD piece = size > 0x40000000u ? 0x40000000u : DWORD(size);
    DWORD done = 0;
    // A call that writes nothing would loop forever; treat it as the failure it is.
    if (!WriteFile(handle_, p, piece, &done, nullptr) || done == 0) return false;
    p += done;
    size -= done;
  }
  return true;
}

}  // namespace sv
