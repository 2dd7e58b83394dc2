#pragma once
// Byte sources and sinks for the LZ decoder.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sv {

class LzReader {
 public:
  virtual ~LzReader() = default;
  // Bytes delivered into buffer; 0 means end of data or error.
  virtual uint32_t Read(void* buffer, uint32_t capacity) = 0;
};

class LzWriter {
 public:
  virtual ~LzWriter() = default;
  virtual bool Write(const void* data, size_t size) = 0;
};

// Opaque file handle so that this header stays free of <windows.h>.
using FileHandle = void*;

class FileReader : public LzReader {
 public:
  FileReader() = default;
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;
  ~FileReader() override;
  // Read access, sharing read only, existing file, sequential scan.
  bool OpenRead(const std::wstring& path);
  void Close();
  uint32_t Read(void* buffer, uint32_t capacity) override;

 private:
  FileHandle handle_ = nullptr;
};

class FileWriter : public LzWriter {
 public:
  FileWriter() = default;
  FileWriter(const FileWriter&) = delete;
  FileWriter& operator=(const FileWriter&) = delete;
  ~FileWriter() override;
  // Write access, no sharing, create-always, sequential scan; the system error on failure.
  bool OpenWrite(const std::wstring& path, uint32_t* errorOut = nullptr);
  // Puts the written data on the disk (before the file is moved into place).
  bool Flush();
  // False when closing reports a late write failure; true when nothing was open.
  bool Close();
  bool Write(const void* data, size_t size) override;

 private:
  FileHandle handle_ = nullptr;
  uint64_t sinceWriteback_ = 0;  // bytes written since the system was last asked to write back
};

class MemReader : public LzReader {
 public:
  MemReader(const void* data, size_t size) : data_(static_cast<const uint8_t*>(data)), size_(size) {}
  uint32_t Read(void* buffer, uint32_t capacity) override;

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

class MemWriter : public LzWriter {
 public:
  explicit MemWriter(std::vector<uint8_t>* out) : out_(out) {}
  bool Write(const void* data, size_t size) override;

 private:
  std::vector<uint8_t>* out_;
};

}  // namespace sv
