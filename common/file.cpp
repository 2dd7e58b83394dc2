#include "common/file.h"

#include <algorithm>
#include <vector>

#include "common/file_os.h"
#include "common/path.h"

namespace sv {

namespace {

// Pieces stay well below the 32-bit transfer limit of the system calls.
constexpr uint32_t kPieceSize = 16777216;
const wchar_t kTempSuffix[] = L".svtmp";

bool isBareDrive(const std::wstring& p) {
  if (p.size() == 2 && p[1] == L':') return true;
  return p.size() == 6 && p.compare(0, 4, L"\\\\?\\") == 0 && p[5] == L':';
}

// One directory whose parent exists; a name already taken counts only if it is a directory.
bool createOneDirectory(const std::wstring& p) {
  switch (os::createDirectory(p)) {
    case os::CreateDirectoryResult::Created: return true;
    case os::CreateDirectoryResult::AlreadyExists: return isDirectory(p);
    case os::CreateDirectoryResult::Failed: return false;
  }
  return false;
}

}  // namespace

bool isDirectory(const std::wstring& p) {
  const os::PathAttributes a = os::queryAttributes(p);
  return a.exists && a.directory;
}

bool isFile(const std::wstring& p) {
  const os::PathAttributes a = os::queryAttributes(p);
  return a.exists && !a.directory;
}

bool createDirectories(const std::wstring& p) {
  if (p.empty() || isDirectory(p)) return true;
  // Walk up to the first existing ancestor (or a drive or the top of a relative path), then
  // create downwards. A loop rather than recursion keeps deep paths off the stack.
  std::vector<std::wstring> missing{p};
  for (;;) {
    std::wstring parent = parentPath(missing.back());
    if (parent.empty() || parent == missing.back() || isBareDrive(parent) || isDirectory(parent)) break;
    missing.push_back(std::move(parent));
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    if (!createOneDirectory(*it)) return false;
  }
  return true;
}

bool readWholeFile(const std::wstring& p, uint64_t limit, std::string& out) {
  os::File file;
  uint64_t size = 0;
  if (!file.openRead(p) || !file.size(size)) return false;
  if (size > limit || size > uint64_t(std::string().max_size())) return false;
  std::string data(size_t(size), '\0');
  size_t offset = 0;
  while (offset < data.size()) {
    const uint32_t piece = uint32_t(std::min<size_t>(data.size() - offset, kPieceSize));
    uint32_t got = 0;
    if (!file.read(data.data() + offset, piece, got) || got != piece) {
      out.clear();
      return false;
    }
    offset += got;
  }
  out = std::move(data);
  return true;
}

bool writeFileAtomic(const std::wstring& p, const void* data, size_t size,
                     WriteDurability durability) {
  return writeFileAtomic(
      p, [&](const PieceWriter& write) { return write(data, size); }, durability);
}

bool writeFileAtomic(const std::wstring& p, const std::function<bool(const PieceWriter&)>& produce,
                     WriteDurability durability) {
  const std::wstring temp = p + kTempSuffix;
  os::File file;
  if (!file.createWrite(temp)) return false;
  const PieceWriter write = [&file](const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
      const uint32_t piece = uint32_t(std::min<size_t>(size, kPieceSize));
      uint32_t written = 0;
      if (!file.write(bytes, piece, written) || written == 0) return false;
      written = std::min(written, piece);
      bytes += written;
      size -= written;
    }
    return true;
  };
  if (!produce(write)) {
    file.close();
    os::deleteFileQuietly(temp);
    return false;
  }
  // Flushed before the move: after a crash the name must not point at data never written.
  const bool flushed = durability == WriteDurability::kCached || file.flush();
  if (!flushed || !file.close()) {
    file.close();
    os::deleteFileQuietly(temp);
    return false;
  }
  // A read-only destination would refuse to be replaced.
  const os::PathAttributes target = os::queryAttributes(p);
  if (target.exists && target.readOnly) os::clearReadOnly(p);
  if (!os::moveReplacing(temp, p)) {
    os::deleteFileQuietly(temp);
    return false;
  }
  return true;
}

}  // namespace sv
