#pragma once
// Whole-file helpers. Paths are wide strings; the host build maps them to UTF-8 file names with
// '\' read as '/'. Nothing here throws except on allocation failure.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sv {

bool isDirectory(const std::wstring& p);
bool isFile(const std::wstring& p);
// Creates p and its missing parents; an existing directory succeeds.
bool createDirectories(const std::wstring& p);
// Fails when the file is larger than `limit`, on a short read or read error (out left empty).
bool readWholeFile(const std::wstring& p, uint64_t limit, std::string& out);
// How far a write must have gone before the move: to the disk, so that after a power cut the
// name never points at data that was not written; or only to the system's cache, for files whose
// loss or damage a reader detects and recovers from (the resume state), where a flush per write
// would cost more than the whole download.
enum class WriteDurability { kFlushed, kCached };
// Writes p + ".svtmp" and moves it over p; on failure p is left as it was.
bool writeFileAtomic(const std::wstring& p, const void* data, size_t size,
                     WriteDurability durability = WriteDurability::kFlushed);
// The same for a file made piece by piece, so that a large one never sits in memory whole:
// `produce` hands every piece to `write` and returns false (as does a failed write) to give up.
using PieceWriter = std::function<bool(const void* data, size_t size)>;
bool writeFileAtomic(const std::wstring& p, const std::function<bool(const PieceWriter&)>& produce,
                     WriteDurability durability = WriteDurability::kFlushed);

}  // namespace sv
