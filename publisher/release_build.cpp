#include "publisher/release_build.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>

#include "common/file.h"
#include "common/file_os.h"
#include "common/text.h"
#include "common/crc32.h"
#include "patcher/engine/file_list.h"
#include "publisher/client_scan.h"
#include "publisher/glob_match.h"
#include "publisher/lz_file.h"
#include "publisher/manifest.h"
#include "publisher/name_fold.h"
#include "publisher/path_convert.h"
#include "publisher/progress_line.h"
#include "publisher/release_files.h"

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

// Removes what an interrupted build left under temporary names (a ".svtmp" is only ever one of
// this tool's own writes); returns how many.
size_t RemoveTemporaries(const fs::path& out, std::ostream& err) {
  size_t removed = 0;
  std::error_code error;
  std::vector<fs::path> found;
  for (fs::recursive_directory_iterator it(out, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error) && it->path().extension() == ".svtmp") found.push_back(*it);
  }
  for (const fs::path& p : found) {
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
  std::error_code error;
  for (fs::recursive_directory_iterator it(out, error), end; !error && it != end;
       it.increment(error)) {
    std::string path;
    if (it->is_regular_file(error) && it->path().extension() == ".lz" &&
        GenericUtf8FromPath(it->path().lexically_relative(out), path)) {
      paths.push_back(path.substr(0, path.size() - 3));
    }
  }
  return paths;
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
        entries[i].size != listed[i].size) {
      return false;
    }
  }
  return true;
}

struct ProgressContext {
  ProgressLine* line;
  uint64_t filesDone, filesTotal, bytesBefore, bytesTotal;
  const std::string* name;
};

void OnProgress(void* context, uint64_t done) {
  auto* p = static_cast<ProgressContext*>(context);
  p->line->Show(p->filesDone, p->filesTotal, p->bytesBefore + done, p->bytesTotal, *p->name);
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
  ClientScan scan = ScanClient(options.client, options.excludes, options.out);
  if (!scan.problems.empty()) {
    for (const std::string& p : scan.problems) err << "error: " << p << "\n";
    err << "nothing was written: " << scan.problems.size() << " file(s) cannot be published\n";
    return false;
  }
  for (const std::string& s : scan.skipped) out << "skipped " << s << "\n";
  if (!createDirectories(WideFromPath(options.out))) {
    err << "error: cannot create the output folder\n";
    return false;
  }
  if (size_t n = RemoveTemporaries(options.out, err)) {
    out << "removed " << n << " partly written file(s) an interrupted build left behind\n";
  }

  std::vector<ListedFile> listed;
  uint64_t bytesTotal = 0;
  for (const ClientFile& f : scan.files) bytesTotal += f.size;
  ProgressLine progress(err, options.showProgress);
  bool oldReadable = true;
  Manifest old = ReadOldManifest(options.out, oldReadable, err);
  if (!oldReadable) {
    // Its .lz files are unknown: every .lz in the folder is taken for one of this tool's.
    for (const std::string& path : LzFilesIn(options.out)) {
      old.try_emplace(path).first->second.lzSize = kUnknownLzSize;
    }
  }
  Journal journal;
  if (!journal.Open(options.out / kJournalName)) {
    err << "error: cannot write " << Utf8Name(options.out / kJournalName) << "\n";
    return false;
  }
  Manifest fresh;
  auto stopHalfWay = [&](const std::string& message) {
    progress.Clear();
    err << "error: " << message << "\n";
    return false;
  };
  uint64_t bytesDone = 0;
  for (size_t i = 0; i < scan.files.size(); ++i) {
    const ClientFile& file = scan.files[i];
    const fs::path lz = LzPathOf(options.out, file.path);
    auto known = old.find(file.path);
    ManifestEntry entry{0, file.size, file.modified, options.level, 0};
    if (CanKeep(file, known == old.end() ? nullptr : &known->second, options.level, lz,
                entry.crc)) {
      entry.lzSize = known->second.lzSize;
      ++summary.kept;
    } else {
      if (!createDirectories(WideFromPath(lz.parent_path()))) {
        return stopHalfWay("cannot create the folder for " + file.path + ".lz");
      }
      if (!journal.Add(FormatJournalReplacing(file.path))) {
        return stopHalfWay("cannot write " + Utf8Name(options.out / kJournalName));
      }
      ProgressContext context{&progress, i, scan.files.size(), bytesDone, bytesTotal, &file.path};
      LzFileResult r = CompressFile(file.source, lz, options.level, OnProgress, &context);
      if (!r.ok) return stopHalfWay(r.error);
      if (!journal.Add(FormatJournalReplaced(
              file.path, {r.crc, r.size, file.modified, options.level, r.lzSize}))) {
        return stopHalfWay("cannot write " + Utf8Name(options.out / kJournalName));
      }
      if (r.size != file.size) return stopHalfWay(file.path + " changed while it was read");
      entry.crc = r.crc;
      entry.lzSize = r.lzSize;
      ++summary.written;
    }
    bytesDone += file.size;
    progress.Show(i + 1, scan.files.size(), bytesDone, bytesTotal, file.path);
    summary.bytes += file.size;
    summary.lzBytes += entry.lzSize;
    fresh[file.path] = entry;
    listed.push_back({file.path, entry.crc, file.size});
  }
  progress.Clear();
  summary.files = listed.size();

  const std::string list = FormatFileList(listed);
  if (!FileListReadsBack(list, listed)) {
    err << "error: the file list does not read back as written; nothing was listed\n";
    return false;
  }
  if (!WriteTextFile(options.out / kFileListName, list, err)) return false;
  if (!options.baseUrl.empty()) {
    const fs::path config = options.out / kConfigName;
    if (fs::exists(config, error)) {
      out << "kept the existing " << kConfigName << " (it may hold your edits); delete it to get "
          << "a new skeleton for " << options.baseUrl << "\n";
    } else if (!WriteTextFile(config,
                              MakeConfigSkeleton(options.baseUrl, GuessRunPath(scan.files)),
                              err)) {
      return false;
    }
  }
  // Only now, with the new list in place, do the .lz files of removed files go; the record still
  // names them until they are gone, so a build stopped here removes them next time.
  std::map<std::wstring, std::string> freshByFold;
  for (const auto& [path, entry] : fresh) freshByFold.emplace(FoldName(toWide(path)), path);
  Manifest record = fresh;
  for (const auto& [path, entry] : old) {
    if (fresh.count(path)) continue;
    const fs::path lz = LzPathOf(options.out, path);
    // After a rename that changed only the case, on a file system that ignores case the old
    // name is the .lz just written.
    auto same = freshByFold.find(FoldName(toWide(path)));
    if (same != freshByFold.end() && fs::equivalent(lz, LzPathOf(options.out, same->second), error)) {
      continue;
    }
    if (fs::remove(lz, error)) {
      ++summary.removed;
    } else if (error) {
      err << "warning: cannot remove " << path << ".lz: " << error.message() << "\n";
      record[path] = entry;  // tried again next time
    }
  }
  if (!WriteTextFile(options.out / kManifestName, FormatManifest(record), err)) return false;
  journal.Close();
  os::deleteFileQuietly(WideFromPath(options.out / kJournalName));
  out << summary.files << " files, " << FormatBytes(summary.bytes) << " -> "
      << FormatBytes(summary.lzBytes) << ": " << summary.written << " compressed, "
      << summary.kept << " unchanged, " << summary.removed << " removed\n";
  return true;
}

}  // namespace sv
