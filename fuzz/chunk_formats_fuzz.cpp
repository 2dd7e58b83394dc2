// Reads arbitrary bytes as a chunk index, as a chunk list and as a crclist's chunk reference, and
// cuts them into chunks: whatever a parser takes is written back to the same bytes, and every cut
// stays within the data and the size bounds.
// (A chunk list is compared after one round, since its numbers have more than one spelling.)
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "release/chunk_index.h"
#include "release/chunk_list.h"
#include "release/chunker.h"

using sv::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(sv::fuzz::Bytes(data, size));
  std::string error;
  sv::ChunkIndex index;
  if (sv::ParseChunkIndex(bytes, index, error)) Check(sv::FormatChunkIndex(index) == bytes);
  sv::ChunkList list;
  if (sv::ParseChunkList(bytes, list, error)) {
    // Numbers may come with leading zeros or upper-case digits; what is written reads back.
    const std::string again = sv::FormatChunkList(list);
    sv::ChunkList back;
    Check(sv::ParseChunkList(again, back, error) && sv::FormatChunkList(back) == again);
  }
  sv::ReleaseObject reference;
  if (sv::FindChunkListReference(bytes, reference)) {
    sv::ReleaseObject again;
    Check(sv::FindChunkListReference(sv::ChunkListReference(reference), again) &&
          again == reference);
  }
  for (size_t at = 0; at < size;) {
    const size_t length = sv::ChunkLength(data + at, size - at);
    Check(length > 0 && length <= size - at && length <= sv::kChunkMaxSize);
    Check(length >= sv::kChunkMinSize || length == size - at);
    at += length;
  }
  return 0;
}
