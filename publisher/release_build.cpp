#include "publisher/release_build.h"

#include <algorithm>
#include <ctime>
#include <atomic>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <set>
#include <sstream>
#include <system_error>

#include "common/file.h"
#include "common/file_os.h"
#include "common/text.h"
#include "common/crc32.h"
#include "release/file_list.h"
#include "publisher/client_scan.h"
#include "publisher/glob_match.h"
#include "publisher/lz_file.h"
#include "publisher/lzo_blocks.h"
#include "publisher/manifest.h"
#include "publisher/name_fold.h"
#include "publisher/parallel_work.h"
#include "publisher/path_convert.h"
#include "publisher/progress_line.h"
#include "publisher/chunk_store.h"
#include "publisher/release_chunks.h"
#include "publisher/release_files.h"
#include "publisher/release_versions.h"
#include "publisher/update_size.h"

namespace sv {

namespace fs = std::filesystem;

namespace {

fs::path LzPathOf(const fs::path& out, const std::string& path) {
  return out / PathFromUtf8(path + ".lz");
}

bool WriteTextFile(const fs::path& p, const std::string& text, std::ostream& err) {
  if (writeFileAtomic(WideFromPath(p), text.data(), text.size())) return true;
  std::string name;
  Utf8FromPath(p, name);
  err << "error: cannot write " << name << "\n";
  return false;
}

std::string Utf8Name(const fs::path& p) {
  std::string name;
  Utf8FromPath(p, name);
  return name;
}

// The last build's record with what a build stopped half way had journalled on top. `readable`
// is false when a record is there but cannot be read: then the .lz files it named are unknown.
Manifest ReadOldManifest(const fs::path& out, bool& readable, std::ostream& err) {
  Manifest manifest;
  readable = true;
  std::wstring path = WideFromPath(out / kManifestName);
  std::string text;
  if (isFile(path) &&
      (!readWholeFile(path, uint64_t(1) << 30, text) || !ParseManifest(text, manifest))) {
    readable = false;
    err << "warning: " << kManifestName << " is unreadable; every file is compressed again\n";
  }
  std::wstring journal = WideFromPath(out / kJournalName);
  if (isFile(journal) && readWholeFile(journal, uint64_t(1) << 30, text)) {
    ApplyJournal(text, manifest);
  }
  return manifest;
}

// Appends journal lines, each on its way to the system before the step it describes is taken.
class Journal {
 public:
  bool Open(const fs::path& p) {
    out_.open(p, std::ios::binary | std::ios::app);
    return out_.is_open();
  }
  bool Add(const std::string& line) {
    out_ << line;
    out_.flush();
    return bool(out_);
  }
  void Close() { out_.close(); }

 private:
  std::ofstream out_;
};

// Walks up from `inner` (which need not exist yet) looking for `outer`.
bool LiesInside(const fs::path& inner, const fs::path& outer) {
  std::error_code error;
  fs::path p = fs::absolute(inner, error).lexically_normal();
  if (error) return false;
  if (p.has_filename() == false) p = p.parent_path();
  for (fs::path up = p.parent_path(); !up.empty(); p = up, up = up.parent_path()) {
    if (fs::equivalent(up, outer, error)) return true;
    if (up == p) break;
  }
  return false;
}

// The plain files anywhere below `out` whose names end in `extension`; a folder that cannot be
// read ends the walk with what was found so far.
std::vector<fs::path> FilesBelow(const fs::path& out, const char* extension) {
  std::vector<fs::path> found;
  std::error_code error;
  for (fs::recursive_directory_iterator it(out, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error) && it->path().extension() == extension) found.push_back(*it);
  }
  return found;
}

// Removes what an interrupted build left under temporary names (a ".svtmp" is only ever one of
// this tool's own writes); returns how many.
size_t RemoveTemporaries(const fs::path& out, std::ostream& err) {
  size_t removed = 0;
  std::error_code error;
  for (const fs::path& p : FilesBelow(out, ".svtmp")) {
    if (fs::remove(p, error)) {
      ++removed;
    } else if (error) {
      err << "warning: cannot remove " << Utf8Name(p) << "\n";
    }
  }
  return removed;
}

// The .lz files below `out`, by path as the list writes it, for a folder whose record is lost.
std::vector<std::string> LzFilesIn(const fs::path& out) {
  std::vector<std::string> paths;
  for (const fs::path& lz : FilesBelow(out, ".lz")) {
    std::string path;
    if (GenericUtf8FromPath(lz.lexically_relative(out), path)) {
      paths.push_back(path.substr(0, path.size() - 3));
    }
  }
  return paths;
}

// A configuration for a first build; when no game program could be found its run_path stays
// empty, and players' START would have nothing to start: the operator is told what to set.
std::string ConfigSkeleton(const BuildOptions& options, const ClientScan& scan, std::ostream& err) {
  const std::string runPath = GuessRunPath(scan.files);
  if (runPath.empty()) {
    err << "warning: run_path in " << kConfigName << " is empty: the client's top folder holds no "
        << "single game program (.exe); set run_path=\"YOURGAME.exe\" there, or players' START has "
        << "nothing to start\n";
  }
  return MakeConfigSkeleton(options.baseUrl, runPath);
}

// The old .lz is kept when the file has the same size, time and CRC as last time, was packed at
// the same level, and its .lz is still there at the size recorded.
bool CanKeep(const ClientFile& file, const ManifestEntry* old, int level, const fs::path& lz,
             uint32_t& crcOut) {
  if (!old || old->size != file.size || old->modified != file.modified || old->level != level) {
    return false;
  }
  std::error_code error;
  if (fs::file_size(lz, error) != old->lzSize || error) return false;
  uint64_t size = 0;
  return Crc32File(WideFromPath(file.source), crcOut, size) && size == file.size &&
         crcOut == old->crc;
}

// The list must read back exactly as written, with the patcher's own parser.
bool FileListReadsBack(const std::string& text, const std::vector<ListedFile>& listed) {
  std::vector<FileEntry> entries;
  std::wstring error;
  if (!ParseFileList(text, entries, error) || entries.size() != listed.size()) return false;
  for (size_t i = 0; i < listed.size(); ++i) {
    std::wstring expected = toWide(listed[i].path);
    std::replace(expected.begin(), expected.end(), L'/', L'\\');
    if (entries[i].path != expected || entries[i].crc != listed[i].crc ||
        entries[i].size != listed[i].size || bool(entries[i].object) != listed[i].hasObject ||
        (listed[i].hasObject && *entries[i].object != listed[i].object)) {
      return false;
    }
  }
  return true;
}

// Puts the unchanged .lz of the release before into the new one: a hard link where the file
// system allows (no bytes copied, no room taken), a copy otherwise.
enum class Shared { kLinked, kCopied, kFailed };
Shared ShareFile(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::create_hard_link(from, to, error);
  if (!error) return Shared::kLinked;
  const fs::path temp = TemporaryName(to);
  if (fs::copy_file(from, temp, fs::copy_options::overwrite_existing, error) &&
      os::moveReplacing(WideFromPath(temp), WideFromPath(to))) {
    return Shared::kCopied;
  }
  fs::remove(temp, error);
  return Shared::kFailed;
}

// What became of one file of the client.
struct FileOutcome {
  ManifestEntry entry;
  bool hashed = false;  // the ".lz"'s SHA-256, taken while it was written (signed releases)
  Sha256Digest digest{};
  bool kept = false;
  Shared shared = Shared::kFailed;
  std::string error;  // empty when done
};

// The removal lines of the new list: the files this build no longer lists (unless the operator
// keeps them on players' disks) and those an earlier build named, except files that came back.
// A player who skipped a release still meets every removal since. Players delete only files an
// earlier release installed.
std::string RemovalLines(const BuildOptions& options, const fs::path& previous, const Manifest& old,
                         const std::map<std::wstring, std::string>& freshByFold, std::ostream& out) {
  std::set<std::wstring> named;
  std::string lines;
  auto add = [&](const std::string& path) {
    const std::wstring fold = FoldName(toWide(path));
    if (freshByFold.count(fold) || !named.insert(fold).second) return;
    lines += kRemovedLinePrefix + path + "\n";
  };
  std::string previousList;
  if (readWholeFile(WideFromPath(previous / kFileListName), kFileListMaxBytes, previousList)) {
    for (std::wstring path : ParseRemovedPaths(previousList)) {
      std::replace(path.begin(), path.end(), L'\\', L'/');
      add(toUtf8(path));
    }
  }
  for (const auto& [path, entry] : old) {
    if (freshByFold.count(FoldName(toWide(path)))) continue;
    out << "removed " << path << (options.keepRemoved ? " (players keep their copy)" : "") << "\n";
    if (!options.keepRemoved) add(path);
  }
  return lines;
}

// Progress shared by the workers: finished bytes, and each worker's bytes of its current file.
struct SharedProgress {
  explicit SharedProgress(unsigned workers) : current(workers) {
    for (auto& c : current) c.store(0);
  }
  std::atomic<uint64_t> filesDone{0}, bytesDone{0};
  std::vector<std::atomic<uint64_t>> current;
  std::mutex nameLock;
  std::string name;  // the file a worker started last
  uint64_t Bytes() const {
    uint64_t sum = bytesDone.load();
    for (const auto& c : current) sum += c.load();
    return sum;
  }
};

struct WorkerProgress {
  SharedProgress* shared;
  unsigned worker;
};

void OnProgress(void* context, uint64_t done) {
  auto* p = static_cast<WorkerProgress*>(context);
  p->shared->current[p->worker].store(done);
}

// Writes the .lz files and the list of a release into `release`, taking unchanged .lz files
// from `previous` (the same folder for an in-place build).
bool WriteRelease(const BuildOptions& options, const ClientScan& scan, const fs::path& release,
                  const fs::path& previous, BuildSummary& summary, std::ostream& out,
                  std::ostream& err) {
  const bool inPlace = release == previous;
  if (!createDirectories(WideFromPath(release))) {
    err << "error: cannot create the output folder\n";
    return false;
  }
  if (size_t n = RemoveTemporaries(release, err)) {
    out << "removed " << n << " partly written file(s) an interrupted build left behind\n";
  }

  uint64_t bytesTotal = 0;
  for (const ClientFile& f : scan.files) bytesTotal += f.size;
  ProgressLine progress(err, options.showProgress);
  bool oldReadable = true;
  Manifest old = ReadOldManifest(previous, oldReadable, err);
  if (!oldReadable) {
    // Its .lz files are unknown: every .lz in the folder is taken for one of this tool's.
    for (const std::string& path : LzFilesIn(previous)) {
      old.try_emplace(path).first->second.lzSize = kUnknownLzSize;
    }
  }
  Journal journal;
  if (!journal.Open(release / kJournalName)) {
    err << "error: cannot write " << Utf8Name(release / kJournalName) << "\n";
    return false;
  }
  auto stopHalfWay = [&](const std::string& message) {
    progress.Clear();
    err << "error: " << message << "\n";
    return false;
  };
  // Folders first, on one thread: workers then only write files.
  std::set<fs::path> folders;
  for (const ClientFile& file : scan.files) {
    folders.insert(LzPathOf(release, file.path).parent_path());
  }
  for (const fs::path& folder : folders) {
    if (!createDirectories(WideFromPath(folder))) {
      return stopHalfWay("cannot create the folder " + Utf8Name(folder));
    }
  }

  // A file is packed on its own, whole or (when large) in blocks of a fixed size, so the output
  // is the same for any number of workers; a large file's blocks are spread over all of them.
  // The journal is the only thing files share.
  // Largest files first: a large file started last would leave the other workers idle while it
  // ends. The order changes no byte.
  std::vector<size_t> order(scan.files.size());
  std::iota(order.begin(), order.end(), size_t(0));
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return scan.files[a].size > scan.files[b].size;
  });
  struct Piece {
    size_t file;
    size_t block;
  };
  std::vector<Piece> pieces;
  for (size_t i : order) {
    const size_t blocks = UsesLzoBlocks(scan.files[i].size) ? LzoBlockCount(scan.files[i].size) : 1;
    for (size_t b = 0; b < blocks; ++b) pieces.push_back({i, b});
  }
  const unsigned workers = WorkerCount(options.jobs, pieces.size());
  std::vector<FileOutcome> outcomes(scan.files.size());
  // Decided by whichever worker takes a piece of the file first.
  struct FileJob {
    std::once_flag decided;
    bool compress = false;
    std::unique_ptr<BlockedLzFile> blocked;
  };
  std::vector<FileJob> jobs(scan.files.size());
  SharedProgress shared(workers);
  std::mutex journalLock;
  std::atomic<bool> stop{false};
  auto journalAdd = [&](const std::string& line) {
    std::lock_guard<std::mutex> guard(journalLock);
    return journal.Add(line);
  };
  auto fileDone = [&](const FileOutcome& r) {
    if (!r.error.empty()) stop.store(true);
    ++shared.filesDone;
  };
  // Keeps the old .lz, or records that it is being replaced; true when the file is to be packed.
  auto decide = [&](size_t i) {
    const ClientFile& file = scan.files[i];
    FileOutcome& r = outcomes[i];
    {
      std::lock_guard<std::mutex> guard(shared.nameLock);
      shared.name = file.path;
    }
    const fs::path lz = LzPathOf(release, file.path);
    auto known = old.find(file.path);
    r.entry = ManifestEntry{0, file.size, file.modified, options.level, 0};
    if (CanKeep(file, known == old.end() ? nullptr : &known->second, options.level,
                LzPathOf(previous, file.path), r.entry.crc)) {
      r.entry.lzSize = known->second.lzSize;
      r.kept = true;
      if (!inPlace) {
        r.shared = ShareFile(LzPathOf(previous, file.path), lz);
        if (r.shared == Shared::kFailed) r.error = "cannot write " + file.path + ".lz";
      }
    } else if (!journalAdd(FormatJournalReplacing(file.path))) {
      r.error = "cannot write " + Utf8Name(release / kJournalName);
    } else if (UsesLzoBlocks(file.size)) {
      jobs[i].blocked.reset(new BlockedLzFile(file.source, lz, options.level, file.size,
                                              2 * size_t(workers), options.signing.has_value()));
      if (jobs[i].blocked->Open()) return true;
      r.error = jobs[i].blocked->result().error;
    } else {
      return true;
    }
    shared.bytesDone += file.size;
    fileDone(r);
    return false;
  };
  auto packed = [&](const ClientFile& file, FileOutcome& r, const LzFileResult& c) {
    if (!c.ok) {
      r.error = c.error;
    } else if (!journalAdd(FormatJournalReplaced(
                   file.path, {c.crc, c.size, file.modified, options.level, c.lzSize}))) {
      r.error = "cannot write " + Utf8Name(release / kJournalName);
    } else if (c.size != file.size) {
      r.error = file.path + " changed while it was read";
    }
    r.entry.crc = c.crc;
    r.entry.lzSize = c.lzSize;
    r.hashed = c.ok && c.hashed;
    r.digest = c.digest;
    fileDone(r);
  };
  auto work = [&](size_t next, unsigned worker) {
    const Piece piece = pieces[next];
    const ClientFile& file = scan.files[piece.file];
    FileOutcome& r = outcomes[piece.file];
    FileJob& job = jobs[piece.file];
    std::call_once(job.decided, [&] { job.compress = decide(piece.file); });
    if (!job.compress) return;
    if (job.blocked) {
      const uint64_t start = uint64_t(piece.block) * kLzoBlockSize;
      const bool last = job.blocked->Compress(piece.block);
      shared.bytesDone += std::min(kLzoBlockSize, file.size - start);
      if (last) {
        packed(file, r, job.blocked->result());
      } else if (!job.blocked->result().error.empty()) {
        stop.store(true);
      }
      return;
    }
    WorkerProgress context{&shared, worker};
    LzFileResult c = CompressFile(file.source, LzPathOf(release, file.path), options.level,
                                  OnProgress, &context, options.signing.has_value());
    shared.current[worker].store(0);
    shared.bytesDone += file.size;
    packed(file, r, c);
  };
  auto tick = [&] {
    std::string name;
    {
      std::lock_guard<std::mutex> guard(shared.nameLock);
      name = shared.name;
    }
    progress.Show(shared.filesDone.load(), scan.files.size(), shared.Bytes(), bytesTotal, name);
  };
  RunInParallel(pieces.size(), workers, work, tick, stop);
  // A large file whose block failed was never finished, so nothing reported it yet.
  for (size_t i = 0; i < jobs.size(); ++i) {
    if (jobs[i].blocked && outcomes[i].error.empty()) {
      outcomes[i].error = jobs[i].blocked->result().error;
    }
  }
  // The first failure in the client's order, whichever worker met it first.
  for (const FileOutcome& r : outcomes) {
    if (!r.error.empty()) return stopHalfWay(r.error);
  }
  progress.Clear();

  Manifest fresh;
  std::vector<ListedFile> listed;
  for (size_t i = 0; i < scan.files.size(); ++i) {
    const ClientFile& file = scan.files[i];
    const FileOutcome& r = outcomes[i];
    ++(r.kept ? summary.kept : summary.written);
    summary.linked += r.kept && r.shared == Shared::kLinked ? 1 : 0;
    summary.copied += r.kept && r.shared == Shared::kCopied ? 1 : 0;
    summary.bytes += file.size;
    summary.lzBytes += r.entry.lzSize;
    fresh[file.path] = r.entry;
    listed.push_back({file.path, r.entry.crc, file.size, r.hashed, {}});
    if (r.hashed) listed.back().object = {r.digest, r.entry.lzSize};
    // What players download: files whose bytes differ from the last build, by name once there
    // was one (a first build would list the whole client).
    auto before = old.find(file.path);
    const bool changed = before == old.end() || before->second.crc != r.entry.crc ||
                         before->second.size != file.size;
    if (!changed) continue;
    ++summary.changedFiles;
    summary.changedLzBytes += r.entry.lzSize;
    if (!old.empty()) out << (before == old.end() ? "new " : "changed ") << file.path << "\n";
  }
  summary.files = listed.size();
  std::map<std::wstring, std::string> freshByFold;
  for (const auto& [path, entry] : fresh) freshByFold.emplace(FoldName(toWide(path)), path);
  const std::string removals = RemovalLines(options, previous, old, freshByFold, out);
  std::string chunkReference;
  if (options.chunks) {
    std::vector<fs::path> sources;
    std::vector<uint64_t> lzSizes;
    for (size_t i = 0; i < scan.files.size(); ++i) {
      sources.push_back(scan.files[i].source);
      lzSizes.push_back(outcomes[i].entry.lzSize);
    }
    ChunkedBuild chunked;
    if (!PublishChunks(options.out, release, sources, listed, lzSizes, options.level,
                       options.jobs, chunked, err)) {
      return false;
    }
    summary.chunked = chunked.files;
    summary.chunkedCut = chunked.cut;
    chunkReference = ChunkListReference(chunked.list);
  } else {
    // An old chunk list would name contents this release no longer has.
    os::deleteFileQuietly(WideFromPath(release / kChunkListName));
  }
  if (options.signing && !HashListedObjects(release, listed, options.jobs, err)) return false;

  const std::string list = chunkReference + FormatFileList(listed) + removals;
  if (!FileListReadsBack(list, listed)) {
    err << "error: the file list does not read back as written; nothing was listed\n";
    return false;
  }
  if (!WriteTextFile(release / kFileListName, list, err)) return false;
  if (inPlace && !options.baseUrl.empty()) {
    const fs::path config = release / kConfigName;
    std::error_code error;
    if (fs::exists(config, error)) {
      out << "kept the existing " << kConfigName << " (it may hold your edits); delete it to get "
          << "a new skeleton for " << options.baseUrl << "\n";
    } else if (!WriteTextFile(config, ConfigSkeleton(options, scan, err), err)) {
      return false;
    }
  }
  // Only now, with the new list in place, do the .lz files of removed files go; the record still
  // names them until they are gone, so a build stopped here removes them next time. A new
  // version never held them.
  Manifest record = fresh;
  for (const auto& [path, entry] : old) {
    if (!inPlace || fresh.count(path)) continue;
    const fs::path lz = LzPathOf(release, path);
    std::error_code error;
    // After a rename that changed only the case, on a file system that ignores case the old
    // name is the .lz just written.
    auto same = freshByFold.find(FoldName(toWide(path)));
    if (same != freshByFold.end() && fs::equivalent(lz, LzPathOf(release, same->second), error)) {
      continue;
    }
    if (fs::remove(lz, error)) {
      ++summary.removed;
    } else if (error) {
      err << "warning: cannot remove " << path << ".lz: " << error.message() << "\n";
      record[path] = entry;  // tried again next time
    }
  }
  if (!WriteTextFile(release / kManifestName, FormatManifest(record), err)) return false;
  journal.Close();
  os::deleteFileQuietly(WideFromPath(release / kJournalName));
  return true;
}

void ReportChunks(const BuildSummary& summary, std::ostream& out) {
  if (summary.chunked == 0 && summary.chunkObjectsRemoved == 0) return;
  out << "chunks: " << summary.chunked << " file(s) indexed, " << summary.chunkedCut
      << " cut in this build; " << summary.chunkObjectsRemoved
      << " object(s) no kept version uses removed\n";
}

// The update's size as players meet it.
void PrintDownload(const BuildSummary& summary, std::ostream& out) {
  out << "update: players download " << summary.changedFiles << " file(s), "
      << FormatBytes(summary.changedLzBytes) << "\n";
}

// Removes the staging folders of versioned builds that stopped half way.
void RemoveStaging(const fs::path& out, std::ostream& err) {
  std::error_code error;
  std::vector<fs::path> found;
  for (fs::directory_iterator it(out, error), end; !error && it != end; it.increment(error)) {
    std::error_code e;
    if (it->is_directory(e) && it->path().extension() == kStagingSuffix) found.push_back(*it);
  }
  for (const fs::path& p : found) {
    if (fs::remove_all(p, error) == static_cast<std::uintmax_t>(-1) || error) {
      err << "warning: cannot remove " << Utf8Name(p) << "\n";
    }
  }
}

// The folder whose .lz files a new version may share: the configured version, the in-place
// release when the configuration names none, else the newest version; empty when there is none.
fs::path PreviousRelease(const fs::path& out, const std::string& configured) {
  std::error_code error;
  // A hand-written crcversion may name anything; only a folder of ours directly below `out`
  // is read.
  if (configured.empty() || IsValidVersionName(configured)) {
    const fs::path named = configured.empty() ? out : out / PathFromUtf8(configured);
    if (fs::is_regular_file(named / kManifestName, error)) return named;
  }
  std::vector<PublishedVersion> versions = ListVersions(out);
  return versions.empty() ? fs::path() : out / PathFromUtf8(versions.back().name);
}

// A build into OUT/<version>/: written under a staging name, renamed when complete, and only
// then named by the configuration; old versions go last.
bool BuildVersion(const BuildOptions& options, const ClientScan& scan, BuildSummary& summary,
                  std::ostream& out, std::ostream& err) {
  std::error_code error;
  const fs::path configPath = options.out / kConfigName;
  std::string configText, configured, problem, probe;
  const bool hasConfig = fs::exists(configPath, error);
  if (hasConfig) {
    if (!readWholeFile(WideFromPath(configPath), uint64_t(1) << 24, configText)) {
      err << "error: cannot read " << Utf8Name(configPath) << "\n";
      return false;
    }
  } else if (options.baseUrl.empty()) {
    err << "error: --versioned names each release in " << kConfigName << " of the output "
        << "folder; there is none yet: give --base-url to have one written\n";
    return false;
  } else {
    configText = ConfigSkeleton(options, scan, err);
  }
  // Refused now rather than after the release is written.
  if (!ConfiguredVersion(configText, configured, problem) ||
      !SetConfiguredVersion(configText, "x", probe, problem)) {
    err << "error: " << problem << "\n";
    return false;
  }
  const bool stage = !options.stageAt.empty();
  if (stage && configured.empty()) {
    err << "error: --stage publishes a version beside the live one, and " << kConfigName
        << " names no version yet: publish the first one without --stage\n";
    return false;
  }
  // The announcement changes the live configuration, which a signed manifest names by its bytes.
  if (stage && !options.signing && fs::exists(options.out / kReleaseManifestName, error)) {
    err << "error: the release in " << Utf8Name(options.out) << " is signed ("
        << kReleaseManifestName << "); --stage needs --sign-key KEY\n";
    return false;
  }
  std::string name = options.version;
  if (name.empty()) {
    const std::string stamp = VersionNameAt(std::time(nullptr));
    name = stamp;
    // Two builds within a second: the later one still sorts behind.
    for (int n = 2; fs::exists(options.out / PathFromUtf8(name), error); ++n) {
      name = stamp + "-" + std::to_string(n);
    }
  } else if (fs::exists(options.out / PathFromUtf8(name), error)) {
    err << "error: version " << name << " exists already; a published version is never "
        << "changed, so give another --version\n";
    return false;
  }
  std::string nextUrl, nextConfig, versioned;
  if (stage && (!VersionConfigUrl(configText, name, nextUrl, problem) ||
                !SetConfiguredVersion(configText, name, versioned, problem) ||
                !SetNextRelease(versioned, "", "", nextConfig, problem))) {
    err << "error: " << problem << "\n";
    return false;
  }
  if (!createDirectories(WideFromPath(options.out))) {
    err << "error: cannot create the output folder\n";
    return false;
  }
  RemoveStaging(options.out, err);
  const fs::path previous = PreviousRelease(options.out, configured);
  const fs::path staging = options.out / PathFromUtf8(name + kStagingSuffix);
  const fs::path release = options.out / PathFromUtf8(name);
  summary.version = name;
  if (!WriteRelease(options, scan, staging, previous.empty() ? staging : previous, summary, out,
                    err)) {
    return false;
  }
  // A staged version carries the configuration it goes live with; until then patchers read it
  // only to fetch the version ahead.
  if (stage && !WriteTextFile(staging / kConfigName, nextConfig, err)) return false;
  fs::rename(staging, release, error);
  if (error) {
    err << "error: cannot rename " << Utf8Name(staging) << " to " << name << ": "
        << error.message() << "\n";
    return false;
  }
  std::string newConfig;
  if (stage ? !SetNextRelease(configText, nextUrl, options.stageAt, newConfig, problem)
            : !SetConfiguredVersion(configText, name, newConfig, problem)) {
    err << "error: " << problem << "\n";
    return false;
  }
  // Its manifest is in place before any patcher is sent to it.
  if (stage && options.signing &&
      !SignPublishedRelease(options.out, *options.signing, out, err, release)) {
    return false;
  }
  // The one step that moves patchers to the new release (or announces it), and it is a rename.
  if (!WriteTextFile(configPath, newConfig, err)) return false;

  // The version patchers were sent to until now stays too: some are still reading it, even when
  // the operator had gone back to an older one. So does the one announced to go live next.
  const std::string announced = AnnouncedVersion(newConfig);
  const std::string live = stage ? configured : name;
  for (const std::string& old :
       VersionsToRemove(ListVersions(options.out), live, stage ? name : configured,
                        options.keep)) {
    if (old == announced) continue;
    if (fs::remove_all(options.out / PathFromUtf8(old), error) ==
            static_cast<std::uintmax_t>(-1) || error) {
      err << "warning: cannot remove version " << old << ": " << error.message() << "\n";
    } else {
      ++summary.versionsRemoved;
    }
  }
  summary.chunkObjectsRemoved = RemoveUnusedChunkObjects(options.out, err);
  ReportChunks(summary, out);
  // Before going live: what the update costs a player on each version still served.
  for (const PublishedVersion& v : ListVersions(options.out)) {
    UpdateSize size;
    std::string unreadable;
    if (v.name != name &&
        MeasureUpdate(options.out / PathFromUtf8(v.name), release, size, unreadable)) {
      out << "update: " << FormatUpdateSize(v.name, size) << "\n";
    }
  }
  out << "version " << name << ": " << summary.files << " files, "
      << FormatBytes(summary.bytes) << " -> " << FormatBytes(summary.lzBytes) << ": "
      << summary.written << " compressed, " << summary.kept << " unchanged (" << summary.linked
      << " linked, " << summary.copied << " copied)";
  if (!previous.empty() && previous != options.out) {
    std::string from;
    Utf8FromPath(previous.filename(), from);
    out << " from " << from;
  }
  if (stage) {
    out << "; " << kConfigName << " still names " << configured << " and announces it for "
        << options.stageAt << " (sv_next " << nextUrl << "); " << summary.versionsRemoved
        << " old version(s) removed\n";
  } else {
    out << "; " << kConfigName << " now names it; " << summary.versionsRemoved
        << " old version(s) removed\n";
  }
  PrintDownload(summary, out);
  return !options.signing || SignPublishedRelease(options.out, *options.signing, out, err);
}

}  // namespace

bool BuildRelease(const BuildOptions& options, BuildSummary& summary, std::ostream& out,
                  std::ostream& err) {
  summary = BuildSummary();
  std::error_code error;
  if (!fs::is_directory(options.client, error)) {
    err << "error: the client folder does not exist\n";
    return false;
  }
  if (fs::equivalent(options.client, options.out, error)) {
    err << "error: the output folder must not be the client folder\n";
    return false;
  }
  // The release's own files would become client files, or client files be overwritten.
  if (LiesInside(options.client, options.out)) {
    err << "error: the client folder must not lie inside the output folder\n";
    return false;
  }
  if (LiesInside(options.out, options.client)) {
    std::string rel;
    const fs::path client = fs::weakly_canonical(options.client, error);
    const fs::path release = fs::weakly_canonical(options.out, error);
    if (!GenericUtf8FromPath(release.lexically_relative(client), rel) ||
        !IsExcluded(options.excludes, rel)) {
      err << "error: the output folder lies inside the client folder; leave it out with "
          << "--exclude \"" << rel << "\" or choose another folder\n";
      return false;
    }
  }
  if (options.signing && !SigningReady(options.out, *options.signing, err)) return false;
  ClientScan scan = ScanClient(options.client, options.excludes, options.out);
  if (!scan.problems.empty()) {
    for (const std::string& p : scan.problems) err << "error: " << p << "\n";
    err << "nothing was written: " << scan.problems.size() << " file(s) cannot be published\n";
    return false;
  }
  for (const std::string& s : scan.skipped) out << "skipped " << s << "\n";
  if (options.versioned) return BuildVersion(options, scan, summary, out, err);
  if (!WriteRelease(options, scan, options.out, options.out, summary, out, err)) return false;
  summary.chunkObjectsRemoved = RemoveUnusedChunkObjects(options.out, err);
  ReportChunks(summary, out);
  // Patchers follow crcversion: a build beside the version it names is never downloaded.
  std::string configText, configured, problem;
  if (readWholeFile(WideFromPath(options.out / kConfigName), uint64_t(1) << 24, configText) &&
      ConfiguredVersion(configText, configured, problem) && !configured.empty()) {
    err << "warning: " << kConfigName << " names version " << configured
        << ", so patchers download that and not this build; publish with --versioned\n";
  }
  out << summary.files << " files, " << FormatBytes(summary.bytes) << " -> "
      << FormatBytes(summary.lzBytes) << ": " << summary.written << " compressed, "
      << summary.kept << " unchanged, " << summary.removed << " removed\n";
  PrintDownload(summary, out);
  return !options.signing || SignPublishedRelease(options.out, *options.signing, out, err);
}

bool PromoteRelease(const fs::path& out, const std::string& version,
                    const std::optional<SigningOptions>& signing, std::ostream& report,
                    std::ostream& err) {
  const std::vector<PublishedVersion> versions = ListVersions(out);
  const bool published =
      std::any_of(versions.begin(), versions.end(),
                  [&version](const PublishedVersion& v) { return v.name == version; });
  if (!IsValidVersionName(version) || !published) {
    err << "error: " << Utf8Name(out) << " holds no published version " << version
        << "; the versions are:";
    for (const PublishedVersion& v : versions) err << " " << v.name;
    err << "\n";
    return false;
  }
  const fs::path configPath = out / kConfigName;
  std::string configText, named, problem;
  if (!readWholeFile(WideFromPath(configPath), uint64_t(1) << 24, configText)) {
    err << "error: cannot read " << Utf8Name(configPath) << "\n";
    return false;
  }
  const std::string announced = AnnouncedVersion(configText);
  if (!SetConfiguredVersion(configText, version, named, problem) ||
      !SetNextRelease(named, "", "", configText, problem)) {
    err << "error: " << problem << "\n";
    return false;
  }
  std::error_code noManifest;
  if (!signing && fs::exists(out / kReleaseManifestName, noManifest)) {
    // The manifest names the configuration's bytes: patchers with the key would refuse the edit.
    err << "error: the release in " << Utf8Name(out) << " is signed (" << kReleaseManifestName
        << "); give --sign-key KEY to sign the switch\n";
    return false;
  }
  if (signing && !SigningReady(out, *signing, err)) return false;
  if (!WriteTextFile(configPath, configText, err)) return false;
  report << kConfigName << " now names " << version;
  if (!announced.empty()) report << "; the announcement of " << announced << " is removed";
  report << "\n";
  return !signing || SignPublishedRelease(out, *signing, report, err);
}

}  // namespace sv
