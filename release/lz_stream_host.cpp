// The host build's files (the release tool, tests): the same contract over the portable file
// layer; sharing modes and scan hints have no equivalent there.
#include <cerrno>

#include "common/file_os.h"
#include "release/lz_stream.h"

namespace sv {

namespace {

os::File* AsFile(FileHandle h) { return static_cast<os::File*>(h); }

}  // namespace

FileReader::~FileReader() { Close(); }

bool FileReader::OpenRead(const std::wstring& path) {
  Close();
  auto* file = new os::File;
  if (!file->openRead(path)) {
    delete file;
    return false;
  }
  handle_ = file;
  return true;
}

void FileReader::Close() {
  delete AsFile(handle_);
  handle_ = nullptr;
}

uint32_t FileReader::Read(void* buffer, uint32_t capacity) {
  uint32_t done = 0;
  if (!handle_ || !AsFile(handle_)->read(buffer, capacity, done)) return 0;
  return done;
}

constexpr uint64_t kWritebackStep = 8u << 20;

FileWriter::~FileWriter() { Close(); }

bool FileWriter::OpenWrite(const std::wstring& path, uint32_t* errorOut) {
  Close();
  auto* file = new os::File;
  if (!file->createWrite(path)) {
    delete file;
    if (errorOut) *errorOut = uint32_t(errno);
    return false;
  }
  handle_ = file;
  return true;
}

bool FileWriter::Flush() { return handle_ && AsFile(handle_)->flush(); }

bool FileWriter::Close() {
  os::File* file = AsFile(handle_);
  handle_ = nullptr;
  if (!file) return true;
  const bool closed = file->close();
  delete file;
  return closed;
}

bool FileWriter::Write(const void* data, size_t size) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  sinceWriteback_ += size;
  while (size > 0) {
    if (!handle_) return false;
    const uint32_t piece = size > 0x40000000u ? 0x40000000u : uint32_t(size);
    uint32_t done = 0;
    if (!AsFile(handle_)->write(p, piece, done) || done == 0) return false;
    p += done;
    size -= done;
  }
  // The disk starts on a large file while it is still being written: the flush before its move
  // then waits for the last few MiB only.
  if (sinceWriteback_ >= kWritebackStep) {
    AsFile(handle_)->startWriteback();
    sinceWriteback_ = 0;
  }
  return true;
}

}  // namespace sv
