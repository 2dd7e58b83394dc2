#pragma once
// Shared by the builder tests: scratch folders, a bit writer for hand-made DEFLATE streams, a
// writer of zip images whose every header field a test can spoil, and the stand-in signtool's
// record of its calls.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/crc32.h"
#include "common/file.h"
#include "common/path.h"
#include "common/text.h"
#include "tests/support/test_files.h"

namespace sv::test {

inline std::wstring ScratchFolder(std::string_view name) { return ScratchFolder("builder", name); }

inline std::wstring SampleSkin() { return joinPath(toWide(SV_SOURCE_DIR), L"samples\\skin"); }
inline std::wstring ZipSamples() { return joinPath(toWide(SV_BINARY_DIR), L"zip-samples"); }

inline void SetU16(std::string& out, size_t at, uint16_t v) {
  out[at] = char(v & 0xFF);
  out[at + 1] = char(v >> 8);
}
inline void SetU32(std::string& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = char((v >> (8 * i)) & 0xFF);
}

// DEFLATE bit order: fields least significant bit first, Huffman codes most significant first.
class BitWriter {
public:
  void Put(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int bits) {
    for (int i = bits - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  // A fixed-code literal/length symbol.
  void Fixed(unsigned symbol) {
    if (symbol < 144) Code(0x30 + symbol, 8);
    else if (symbol < 256) Code(0x190 + symbol - 144, 9);
    else if (symbol < 280) Code(symbol - 256, 7);
    else Code(0xC0 + symbol - 280, 8);
  }
  std::string bytes;

private:
  void Bit(uint32_t b) {
    if (used_ == 0) bytes.push_back(0);
    bytes.back() = char(uint8_t(bytes.back()) | (b << used_));
    used_ = (used_ + 1) & 7;
  }
  int used_ = 0;
};

struct ZipItem {
  std::string name;
  std::string stored;        // the bytes as they lie in the zip
  uint32_t plainSize = 0;
  uint32_t crc = 0;
  uint16_t method = 0;
  uint16_t flags = 0;
};

inline ZipItem StoredItem(std::string name, std::string data) {
  ZipItem item;
  item.name = std::move(name);
  item.plainSize = uint32_t(data.size());
  item.crc = Crc32(data.data(), data.size());
  item.stored = std::move(data);
  return item;
}

struct ZipImage {
  std::string bytes;
  std::vector<size_t> localOffsets;
  std::vector<size_t> dirRecords;
  size_t dirOffset = 0;
  size_t endRecord = 0;
};

inline ZipImage MakeZip(const std::vector<ZipItem>& items, std::string_view comment = {}) {
  ZipImage zip;
  std::string& out = zip.bytes;
  for (const ZipItem& item : items) {
    zip.localOffsets.push_back(out.size());
    PutU32(out, 0x04034B50);
    PutU16(out, 20);
    PutU16(out, item.flags);
    PutU16(out, item.method);
    PutU32(out, 0);
    PutU32(out, item.crc);
    PutU32(out, uint32_t(item.stored.size()));
    PutU32(out, item.plainSize);
    PutU16(out, uint16_t(item.name.size()));
    PutU16(out, 0);
    out += item.name;
    out += item.stored;
  }
  zip.dirOffset = out.size();
  for (size_t i = 0; i < items.size(); ++i) {
    const ZipItem& item = items[i];
    zip.dirRecords.push_back(out.size());
    PutU32(out, 0x02014B50);
    PutU16(out, 20);
    PutU16(out, 20);
    PutU16(out, item.flags);
    PutU16(out, item.method);
    PutU32(out, 0);
    PutU32(out, item.crc);
    PutU32(out, uint32_t(item.stored.size()));
    PutU32(out, item.plainSize);
    PutU16(out, uint16_t(item.name.size()));
    PutU16(out, 0);
    PutU16(out, 0);
    PutU16(out, 0);
    PutU16(out, 0);
    PutU32(out, 0);
    PutU32(out, uint32_t(zip.localOffsets[i]));
    out += item.name;
  }
  const size_t dirSize = out.size() - zip.dirOffset;
  zip.endRecord = out.size();
  PutU32(out, 0x06054B50);
  PutU16(out, 0);
  PutU16(out, 0);
  PutU16(out, uint16_t(items.size()));
  PutU16(out, uint16_t(items.size()));
  PutU32(out, uint32_t(dirSize));
  PutU32(out, uint32_t(zip.dirOffset));
  PutU16(out, uint16_t(comment.size()));
  out += comment;
  return zip;
}

using Arguments = std::vector<std::wstring>;

// The calls the stand-in signtool in `folder` recorded: the arguments of each, as it split its
// command line.
inline std::vector<Arguments> SignToolCalls(const std::wstring& folder) {
  const std::string bytes = ReadFile(joinPath(folder, L"calls.txt"));
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  std::vector<Arguments> calls;
  Arguments current;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'\x1F') {
      current.push_back(text.substr(start, i - start));
    } else if (text[i] == L'\n') {
      calls.push_back(std::move(current));
      current.clear();
    } else {
      continue;
    }
    start = i + 1;
  }
  return calls;
}

// The test certificate (tests/data/signing) with its password and SHA-1 thumbprint.
inline std::wstring SigningPfx() { return joinPath(toWide(SV_SOURCE_DIR), L"tests\\data\\signing\\test_signing.pfx"); }
inline const wchar_t* kSigningPassword = L"gizli\" /fd SHA1 \\";
inline const wchar_t* kSigningThumbprint = L"58835AB718EDF7E627E4B7E145756AC5AF950933";

// A call of the stand-in with the store's name (made anew for each signature) as "STORE" and the
// key container it found as "<key>": what stays the same from run to run.
inline Arguments WithoutRunNames(Arguments call) {
  for (size_t i = 0; i + 1 < call.size(); ++i) {
    if (call[i] == L"/s" && call[i + 1].rfind(L"SarvikImza-", 0) == 0) call[i + 1] = L"STORE";
  }
  for (std::wstring& item : call) {
    if (item.rfind(L"<key ", 0) == 0) item = L"<key>";
  }
  return call;
}

}  // namespace sv::test
