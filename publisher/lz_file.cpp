#include "publisher/lz_file.h"

#include "common/file_os.h"
#include "common/text.h"
#include "patcher/engine/lz_decode.h"
#include "patcher/engine/lz_stream.h"
#include "publisher/path_convert.h"

namespace sv {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& p) {
  std::string utf8;
  Utf8FromPath(p, utf8);
  return "\"" + utf8 + "\"";
}

// Writes through sv::FileWriter into the temporary name; Commit renames it over the target.
// Anything not committed is deleted.
class AtomicFile {
 public:
  explicit AtomicFile(const fs::path& target)
      : target_(WideFromPath(target)), temp_(WideFromPath(TemporaryName(target))) {}
  ~AtomicFile() {
    if (!committed_) {
      writer_.Close();
      os::deleteFileQuietly(temp_);
    }
  }
  bool Open() { return !target_.empty() && writer_.OpenWrite(temp_); }
  LzWriter& writer() { return writer_; }
  bool Commit() {
    if (!writer_.Close()) return false;
    // Like the patcher's own replacements: a read-only old copy is no reason to fail.
    os::clearReadOnly(target_);
    committed_ = os::moveReplacing(temp_, target_);
    return committed_;
  }

 private:
  std::wstring target_;
  std::wstring temp_;
  FileWriter writer_;
  bool committed_ = false;
};

}  // namespace

bool FileInput::Open(const fs::path& p, uint64_t& sizeOut) {
  std::error_code error;
  if (!fs::is_regular_file(p, error)) return false;
  sizeOut = fs::file_size(p, error);
  if (error) return false;
  in_.open(p, std::ios::binary);
  position_ = 0;
  return in_.is_open();
}

bool FileInput::ReadAt(uint64_t offset, void* buffer, size_t size) {
  if (offset != position_) {
    in_.clear();
    in_.seekg(std::streamoff(offset));
    if (!in_) return false;
  }
  in_.read(static_cast<char*>(buffer), std::streamsize(size));
  position_ = offset + uint64_t(in_.gcount());
  return size_t(in_.gcount()) == size;
}

fs::path TemporaryName(const fs::path& target) {
  fs::path temp = target;
  temp += ".svtmp";
  return temp;
}

// Opens `target` under its temporary name, lets `write` fill it (returning false with r.error
// set), and renames it into place.
template <typename Write>
LzFileResult WriteAtomically(const fs::path& target, LzFileResult r, Write write) {
  AtomicFile out(target);
  if (!out.Open()) {
    r.error = "cannot create " + Quoted(TemporaryName(target));
    return r;
  }
  if (!write(out.writer(), r)) return r;
  if (!out.Commit()) {
    r.error = "cannot write " + Quoted(target);
    return r;
  }
  r.ok = true;
  return r;
}

LzFileResult CompressFile(const fs::path& source, const fs::path& target, int level,
                          LzProgressFn progress, void* context) {
  LzFileResult r;
  FileInput input;
  if (!input.Open(source, r.size)) {
    r.error = "cannot read " + Quoted(source);
    return r;
  }
  if (r.size > kLzMaxInputSize) {
    r.error = Quoted(source) + " is 4 GiB or larger, more than a .lz file can hold";
    return r;
  }
  return WriteAtomically(target, r, [&](LzWriter& out, LzFileResult& result) {
    LzCompressResult c = LzCompress(input, result.size, out, level, progress, context);
    result.crc = c.crc;
    result.lzSize = c.outSize;
    if (!c.ok) result.error = Quoted(source) + ": " + toUtf8(c.errorText);
    return c.ok;
  });
}

LzFileResult DecompressFile(const fs::path& source, const fs::path& target) {
  LzFileResult r;
  FileReader reader;
  if (!reader.OpenRead(WideFromPath(source))) {
    r.error = "cannot read " + Quoted(source);
    return r;
  }
  return WriteAtomically(target, r, [&](LzWriter& out, LzFileResult& result) {
    LzResult d = LzDecode(reader, &out, nullptr, nullptr);
    result.crc = d.crc;
    result.size = d.out_size;
    if (!d.ok) result.error = Quoted(source) + ": " + toUtf8(d.error_text);
    return d.ok;
  });
}

}  // namespace sv
