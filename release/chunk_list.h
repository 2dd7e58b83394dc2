#pragma once
// The chunk list beside a release's crclist ("crclist.chunks"): for each file cut into chunks, the
// crclist values it belongs to and its chunk index object. A patcher that does not know it never
// asks for it, and the crclist and ".lz" files stay as they were. The list names the chunk store
// relative to itself, so versions of one release share one store.
//
//   sarvik-chunks 1
//   store ../chunks/
//   <crc %08x> <size> <lz size> <index sha256> <index size> <path>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "release/release_manifest.h"

namespace sv {

constexpr char kChunkListName[] = "crclist.chunks";
// A list is a line per chunked file; more than this is not one.
constexpr size_t kChunkListLimit = 33554432;
// Files below this size are not cut: a file this small costs little to fetch whole.
constexpr uint64_t kChunkedFileThreshold = 1048576;

struct ChunkedFile {
  std::string path;      // as in the crclist: UTF-8, '/'
  uint32_t crc = 0;      // the crclist's values; an index is used only for the same ones
  uint64_t size = 0;
  uint64_t lzSize = 0;   // the whole ".lz", to weigh the chunks against
  ReleaseObject index;
};

struct ChunkList {
  std::string store;  // relative to the list's folder, ending in '/'
  std::vector<ChunkedFile> files;
};

std::string FormatChunkList(const ChunkList& list);
// False with the line number and reason when the text is not a list of this format; a store that
// leaves the web server's tree by more than one "../" or is absolute is refused.
bool ParseChunkList(std::string_view text, ChunkList& listOut, std::string& errorOut);

// The crclist names its chunk list by hash on its first line, a comment its readers skip: the
// two are then always of one release, and a signature over the crclist covers the chunk list,
// each index it names and each chunk they name.
std::string ChunkListReference(const ReleaseObject& list);  // "# chunks <sha256> <size>\n"
// The reference among the comment lines at the top of a crclist; false when there is none.
bool FindChunkListReference(std::string_view fileList, ReleaseObject& listOut);

// The store's address for a list at `listBase` (which ends in '/'): each leading "../" takes one
// folder off the base, never past its host.
std::wstring ChunkStoreUrl(std::wstring_view listBase, std::string_view store);

}  // namespace sv
