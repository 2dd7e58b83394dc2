#include "publisher/lz_file.h"

#include <condition_variable>
#include <map>
#include <mutex>

#include "common/file_os.h"
#include "common/text.h"
#include "release/lz_decode.h"
#include "release/lz_stream.h"
#include "publisher/lzo_blocks.h"
#include "publisher/path_convert.h"

namespace sv {

namespace fs = std::filesystem;

namespace {

std::string Quoted(const fs::path& p) {
  std::string utf8;
  Utf8FromPath(p, utf8);
  return "\"" + utf8 + "\"";
}

// Passes the bytes on and, when asked, through SHA-256 on the way.
class HashingWriter : public LzWriter {
 public:
  HashingWriter(LzWriter& out, bool hash) : out_(out), hash_(hash ? new Sha256 : nullptr) {}
  bool Write(const void* data, size_t size) override {
    if (hash_) hash_->Update(data, size);
    return out_.Write(data, size);
  }
  // Into the result, when hashing was asked for.
  void FinishInto(LzFileResult& r) {
    r.hashed = hash_ != nullptr;
    if (hash_) r.digest = hash_->Finish();
  }

 private:
  LzWriter& out_;
  std::unique_ptr<Sha256> hash_;
};

// Writes through sv::FileWriter into the temporary name; Commit renames it over the target.
// Anything not committed is deleted.
class AtomicFile {
 public:
  explicit AtomicFile(const fs::path& target, bool hash = false)
      : target_(WideFromPath(target)), temp_(WideFromPath(TemporaryName(target))),
        hashing_(writer_, hash) {}
  ~AtomicFile() {
    if (!committed_) {
      writer_.Close();
      os::deleteFileQuietly(temp_);
    }
  }
  bool Open() { return !target_.empty() && writer_.OpenWrite(temp_); }
  LzWriter& writer() { return hashing_; }
  void FinishHash(LzFileResult& r) { hashing_.FinishInto(r); }
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
  HashingWriter hashing_;
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
LzFileResult WriteAtomically(const fs::path& target, LzFileResult r, Write write,
                             bool hash = false) {
  AtomicFile out(target, hash);
  if (!out.Open()) {
    r.error = "cannot create " + Quoted(TemporaryName(target));
    return r;
  }
  if (!write(out.writer(), r)) return r;
  out.FinishHash(r);
  if (!out.Commit()) {
    r.error = "cannot write " + Quoted(target);
    return r;
  }
  r.ok = true;
  return r;
}

LzFileResult CompressFile(const fs::path& source, const fs::path& target, int level,
                          LzProgressFn progress, void* context, bool hash) {
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
  }, hash);
}

struct BlockedLzFile::State {
  fs::path source, target;
  int level;
  size_t window;
  std::mutex lock;
  std::condition_variable written;
  std::map<size_t, LzoBlock> ready;  // packed, waiting for the blocks before them
  size_t next = 0;                   // the block to write next
  bool failed = false;
  AtomicFile file;
  FileInput joinInput;
  std::unique_ptr<LzoBlockJoiner> joiner;
  LzFileResult r;

  State(const fs::path& from, const fs::path& to, int lv, uint64_t size, size_t win, bool hash)
      : source(from), target(to), level(lv), window(std::max<size_t>(win, 1)), file(to, hash) {
    r.size = size;
  }
  void Fail(const std::string& error) {
    if (!failed) r.error = error;
    failed = true;
  }
};

BlockedLzFile::BlockedLzFile(const fs::path& source, const fs::path& target, int level,
                             uint64_t size, size_t window, bool hash)
    : s_(new State(source, target, level, size, window, hash)) {}

BlockedLzFile::~BlockedLzFile() = default;

size_t BlockedLzFile::blocks() const { return LzoBlockCount(s_->r.size); }

LzFileResult BlockedLzFile::result() const {
  std::lock_guard<std::mutex> guard(s_->lock);
  return s_->r;
}

bool BlockedLzFile::Open() {
  uint64_t size = 0;
  if (!s_->joinInput.Open(s_->source, size)) {
    s_->Fail("cannot read " + Quoted(s_->source));
    return false;
  }
  if (size != s_->r.size) {
    s_->Fail(Quoted(s_->source) + " changed while it was read");
    return false;
  }
  if (!s_->file.Open()) {
    s_->Fail("cannot create " + Quoted(TemporaryName(s_->target)));
    return false;
  }
  const uint64_t n = s_->r.size;
  const uint8_t header[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
  if (!s_->file.writer().Write(header, sizeof header)) {
    s_->Fail("cannot write " + Quoted(s_->target));
    return false;
  }
  s_->joiner.reset(new LzoBlockJoiner(s_->joinInput, s_->file.writer()));
  return true;
}

bool BlockedLzFile::Compress(size_t index) {
  State& s = *s_;
  LzoBlock block;
  {
    FileInput input;
    uint64_t size = 0;
    std::vector<uint8_t> scratch;
    // A file that shrank since it was scanned fails the read.
    if (input.Open(s.source, size)) {
      CompressLzoBlock(input, s.r.size, kLzoBlockSize, index, s.level, block, scratch);
    }
  }
  std::unique_lock<std::mutex> guard(s.lock);
  if (!block.ok) {
    s.Fail("cannot read " + Quoted(s.source));
    s.written.notify_all();
    return false;
  }
  s.ready.emplace(index, std::move(block));
  const size_t count = blocks();
  for (auto it = s.ready.begin(); !s.failed && it != s.ready.end() && it->first == s.next;
       it = s.ready.erase(it)) {
    const uint64_t start = uint64_t(s.next) * kLzoBlockSize;
    s.joiner->Add(it->second, std::min(kLzoBlockSize, s.r.size - start));
    ++s.next;
    if (!s.joiner->error().empty()) s.Fail(Quoted(s.source) + ": " + toUtf8(s.joiner->error()));
  }
  s.written.notify_all();
  if (s.failed) return false;
  if (s.next == count && s.ready.empty()) {
    if (!s.joiner->Finish()) {
      s.Fail(Quoted(s.source) + ": " + toUtf8(s.joiner->error()));
      return false;
    }
    s.file.FinishHash(s.r);
    if (!s.file.Commit()) {
      s.Fail("cannot write " + Quoted(s.target));
      return false;
    }
    s.r.crc = s.joiner->crc();
    s.r.lzSize = 4 + s.joiner->written();
    s.r.ok = true;
    return true;
  }
  s.written.wait(guard, [&] { return s.failed || s.ready.size() <= s.window; });
  return false;
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
