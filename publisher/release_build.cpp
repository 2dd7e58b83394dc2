#include "publisher/release_build.h"

#include <algorithm>
#include <sstream>
#include <system_error>

#include "common/file.h"
#include "common/file_os.h"
#include "common/text.h"
#include "common/crc32.h"
#include "patcher/engine/file_list.h"
#include "publisher/client_scan.h"
#include "publisher/lz_file.h"
#include "publisher/manifest.h"
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

Manifest ReadOldManifest(const fs::path& out, std::ostream& err) {
  Manifest manifest;
  std::wstring path = WideFromPath(out / kManifestName);
  std::string text;
  if (!isFile(path)) return manifest;
  if (!readWholeFile(path, uint64_t(1) << 30, text) || !ParseManifest(text, manifest)) {
    err << "warning: " << kManifestName << " is unreadable; every file is compressed again\n";
  }
  return manifest;
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
  ClientScan scan = ScanClient(options.client, options.excludes, options.out);
  if (!scan.problems.empty()) {
    for (const std::string& p : scan.problems) err << "error: " << p << "\n";
    err << "nothing was written: " << scan.problems.size() << " file(s) cannot be published\n";
    return false;
  }
  if (!createDirectories(WideFromPath(options.out))) {
    err << "error: cannot create the output folder\n";
    return false;
  }

  std::vector<ListedFile> listed;
  uint64_t bytesTotal = 0;
  for (const ClientFile& f : scan.files) bytesTotal += f.size;
  ProgressLine progress(err, options.showProgress);
  const Manifest old = ReadOldManifest(options.out, err);
  Manifest fresh;
  // What the output folder holds at each moment: a build that stops half way records the .lz
  // files it did replace, so the next build never takes one of them for its old content.
  Manifest onDisk = old;
  auto stopHalfWay = [&](const std::string& message) {
    progress.Clear();
    err << "error: " << message << "\n";
    std::ostringstream ignored;
    WriteTextFile(options.out / kManifestName, FormatManifest(onDisk), ignored);
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
      ProgressContext context{&progress, i, scan.files.size(), bytesDone, bytesTotal, &file.path};
      LzFileResult r = CompressFile(file.source, lz, options.level, OnProgress, &context);
      if (!r.ok) return stopHalfWay(r.error);
      onDisk[file.path] = {r.crc, r.size, file.modified, options.level, r.lzSize};
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
  if (!WriteTextFile(options.out / kManifestName, FormatManifest(fresh), err) ||
      !WriteTextFile(options.out / kFileListName, list, err)) {
    return false;
  }
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
  // Only now, with the new list in place, do the .lz files of removed files go.
  for (const auto& [path, entry] : old) {
    if (fresh.count(path)) continue;
    os::deleteFileQuietly(WideFromPath(LzPathOf(options.out, path)));
    ++summary.removed;
  }
  out << summary.files << " files, " << FormatBytes(summary.bytes) << " -> "
      << FormatBytes(summary.lzBytes) << ": " << summary.written << " compressed, "
      << summary.kept << " unchanged, " << summary.removed << " removed\n";
  return true;
}

}  // namespace sv
