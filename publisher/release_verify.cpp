#include "publisher/release_verify.h"

#include <algorithm>
#include <map>
#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>

#include "common/file.h"
#include "common/file_os.h"
#include "common/text.h"
#include "common/crc32.h"
#include "common/xml.h"
#include "release/file_list.h"
#include "release/lz_decode.h"
#include "release/lz_stream.h"
#include "release/url.h"
#include "publisher/path_convert.h"
#include "publisher/progress_line.h"
#include "publisher/release_files.h"
#include "publisher/release_signing.h"
#include "release/release_manifest.h"
#include "publisher/url_fetch.h"

namespace sv {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kConfigMaxBytes = 1048576;

// Where the list and the .lz files come from.
class ReleaseSource {
 public:
  virtual ~ReleaseSource() = default;
  virtual bool ReadList(std::string& bytes, std::string& error) = 0;
  // The configuration beside the release, when there is one.
  virtual bool ReadConfig(std::string& bytes) = 0;
  // Opens the .lz of `entry`; `missing` tells a file that is not there from other failures.
  virtual bool OpenLz(const FileEntry& entry, FileReader& reader, bool& missing,
                      std::string& error) = 0;
  // The file the last OpenLz opened.
  virtual std::wstring LzFile() const = 0;
};

std::string SlashPath(const FileEntry& entry) {
  std::string path = toUtf8(entry.path);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

class FolderSource : public ReleaseSource {
 public:
  explicit FolderSource(fs::path root) : root_(std::move(root)) {}
  bool ReadList(std::string& bytes, std::string& error) override {
    if (readWholeFile(WideFromPath(root_ / kFileListName), kFileListMaxBytes, bytes)) return true;
    error = "cannot read " + std::string(kFileListName) + " in the folder";
    return false;
  }
  bool ReadConfig(std::string& bytes) override {
    // Beside the list, or one folder up (a release made with --versioned).
    for (const fs::path& folder : {root_, root_.parent_path()}) {
      if (readWholeFile(WideFromPath(folder / kConfigName), kConfigMaxBytes, bytes)) return true;
    }
    return false;
  }
  bool OpenLz(const FileEntry& entry, FileReader& reader, bool& missing,
              std::string& error) override {
    const fs::path lz = root_ / PathFromUtf8(SlashPath(entry) + ".lz");
    std::error_code e;
    missing = !fs::exists(lz, e);
    last_ = WideFromPath(lz);
    if (!missing && reader.OpenRead(last_)) return true;
    error = missing ? "missing" : "cannot be opened";
    return false;
  }
  std::wstring LzFile() const override { return last_; }

 private:
  fs::path root_;
  std::wstring last_;
};

// Each .lz is downloaded into one temporary file, unpacked from there and replaced by the next.
class UrlSource : public ReleaseSource {
 public:
  explicit UrlSource(std::string base) : base_(std::move(base)) {
    static std::atomic<unsigned> counter{0};
    std::error_code e;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    temp_ = fs::temp_directory_path(e) /
            ("sarvikpublish-" + std::to_string(uint64_t(now) % 1000000007) + "-" +
             std::to_string(counter++) + ".lz");
  }
  ~UrlSource() override { os::deleteFileQuietly(WideFromPath(temp_)); }
  bool ReadList(std::string& bytes, std::string& error) override {
    UrlFetchResult r = FetchUrlToMemory(ListUrl(), kFileListMaxBytes, bytes);
    if (!r.ok) error = ListUrl() + ": " + r.error;
    return r.ok;
  }
  bool ReadConfig(std::string& bytes) override {
    return FetchUrlToMemory(joinUrl(base_, kConfigName), kConfigMaxBytes, bytes).ok;
  }
  bool OpenLz(const FileEntry& entry, FileReader& reader, bool& missing,
              std::string& error) override {
    reader.Close();
    // The same query the patcher adds, so a cache on the way answers as it would answer it.
    const std::string url =
        addQueryParam(joinUrl(base_, FileUrlPath(entry.path) + ".lz"), "v=" + FormatCrc32(entry.crc));
    UrlFetchResult r = FetchUrlToFile(url, temp_);
    missing = r.status == 404;
    if (r.ok && reader.OpenRead(WideFromPath(temp_))) return true;
    error = missing ? "missing (" + url + ": HTTP 404)" : url + ": " + r.error;
    return false;
  }
  std::wstring LzFile() const override { return WideFromPath(temp_); }

 private:
  std::string ListUrl() const { return joinUrl(base_, kFileListName); }
  std::string base_;
  fs::path temp_;
};

// Names every data line of the list that the patcher would skip, by parsing it alone.
size_t ReportInvalidLines(std::string_view list, std::ostream& out) {
  size_t invalid = 0, number = 0, start = 0;
  while (start < list.size()) {
    size_t end = std::min(list.find('\n', start), list.size());
    std::string_view line = list.substr(start, end - start);
    start = end + 1;
    ++number;
    std::string trimmed = trim(line);
    if (trimmed.empty() || trimmed[0] == '#' || trimmed[0] == ';') continue;
    std::vector<FileEntry> one;
    std::wstring error;
    if (ParseFileList(trimmed, one, error) && one.size() == 1) continue;
    ++invalid;
    out << "BAD " << kFileListName << " line " << number << ": the patcher skips \"" << trimmed
        << "\"\n";
  }
  return invalid;
}

std::string PatcherNameOf(const std::string& url) {
  std::string path = url.substr(0, std::min(url.find('?'), url.size()));
  path = path.substr(path.find_last_of("/\\") == std::string::npos ? 0 : path.find_last_of("/\\") + 1);
  if (path.size() > 3 && toLowerAscii(path.substr(path.size() - 3)) == ".lz") path.resize(path.size() - 3);
  return path;
}

// Checks every entry of `list` against its ".lz" from `source`; with `objects`, also against the
// SHA-256 and size the signed list names.
// `where` begins each BAD line's subject (a mirror's address).
void VerifyEntries(ReleaseSource& source, const std::string& list, bool objects,
                   VerifySummary& summary, std::ostream& out, std::ostream& err,
                   bool showProgress, const std::string& where = "") {
  std::vector<FileEntry> entries;
  std::wstring listError;
  ParseFileList(list, entries, listError);
  summary.invalidLines += ReportInvalidLines(list, out);

  uint64_t bytesTotal = 0, bytesDone = 0;
  for (const FileEntry& e : entries) bytesTotal += e.size;
  ProgressLine progress(err, showProgress);
  FileReader reader;
  for (size_t i = 0; i < entries.size(); ++i) {
    const FileEntry& entry = entries[i];
    const std::string path = SlashPath(entry);
    progress.Show(i, entries.size(), bytesDone, bytesTotal, path);
    bytesDone += entry.size;
    ++summary.files;
    std::string why;
    bool missing = false;
    if (source.OpenLz(entry, reader, missing, why)) {
      LzResult d = LzDecode(reader, nullptr, nullptr, nullptr);
      reader.Close();
      Sha256Digest digest{};
      uint64_t lzSize = 0;
      char text[96];
      if (objects && !entry.object) {
        why = "the list names no SHA-256 for it";
      } else if (objects && (!Sha256OfFile(source.LzFile(), digest, lzSize) ||
                             digest != entry.object->digest || lzSize != entry.object->size)) {
        why = path + ".lz does not match the SHA-256 and size the list names";
      } else if (!d.ok) {
        why = path + ".lz cannot be unpacked: " + toUtf8(d.error_text);
      } else if (d.out_size != entry.size) {
        std::snprintf(text, sizeof text, "unpacks to %llu bytes, the list says %llu",
                      (unsigned long long)d.out_size, (unsigned long long)entry.size);
        why = text;
      } else if (d.crc != entry.crc) {
        why = "unpacks to CRC " + FormatCrc32(d.crc) + ", the list says " + FormatCrc32(entry.crc);
      } else {
        continue;
      }
    } else {
      why = path + ".lz " + why;
    }
    progress.Clear();
    ++summary.bad;
    out << "BAD " << where << path << ": " << why << "\n";
  }
  progress.Clear();
}

// Each mirror must carry the objects of the source's `list` (the list itself stays on the source;
// a mirror that carries one must carry the same).
void VerifyMirrors(const std::string& list, const std::vector<std::string>& mirrors, bool objects,
                   VerifySummary& summary, std::ostream& out, std::ostream& err,
                   bool showProgress) {
  for (const std::string& mirror : mirrors) {
    out << "mirror " << mirror << "\n";
    if (!IsHttpUrl(mirror)) {
      ++summary.bad;
      out << "BAD mirror " << mirror << ": not an http:// or https:// address\n";
      continue;
    }
    UrlSource source(mirror);
    std::string copy, error;
    if (source.ReadList(copy, error) && copy != list) {
      ++summary.bad;
      out << "BAD mirror " << mirror << ": its " << kFileListName << " is not the source's\n";
    }
    VerifyEntries(source, list, objects, summary, out, err, showProgress, "mirror " + mirror + " ");
  }
}

void PrintSummary(const VerifySummary& summary, std::ostream& out) {
  out << "checked " << summary.files << " files: " << summary.bad << " bad";
  if (summary.invalidLines) out << ", " << summary.invalidLines << " invalid list lines";
  if (summary.conflicts) out << ", " << summary.conflicts << " patcher builds in disagreement";
  out << "\n";
}

// A file beside the configuration, from a folder or a web address.
bool ReadBeside(const std::string& dirOrUrl, const std::string& name, size_t limit,
                std::string& bytes, std::string& error) {
  if (IsHttpUrl(dirOrUrl)) {
    const std::string url = joinUrl(dirOrUrl, name);
    UrlFetchResult r = FetchUrlToMemory(url, limit, bytes);
    if (!r.ok) error = url + ": " + r.error;
    return r.ok;
  }
  if (readWholeFile(WideFromPath(PathFromUtf8(dirOrUrl) / PathFromUtf8(name)), limit, bytes)) {
    return true;
  }
  error = "cannot read " + name;
  return false;
}

}  // namespace

std::vector<std::string> PatcherConflicts(const std::string& configText,
                                          const std::vector<FileEntry>& entries) {
  std::vector<std::string> lines;
  XmlDocument doc;
  std::string error;
  if (!doc.parse(decodeTextToUtf8(configText), error)) return lines;
  const std::string url = trim(doc.attribute("sv_patcher_url"));
  uint32_t crc = 0;
  if (url.empty() || !ParseHex32(trim(doc.attribute("sv_patcher_crc32")), crc)) return lines;
  const std::string named = PatcherNameOf(url);
  for (const FileEntry& entry : entries) {
    const std::string path = toUtf8(entry.path);
    if (path.find_first_of("/\\") != std::string::npos) continue;
    if (!equalsNoCase(path, named) && !equalsNoCase(path, "Sarvik.exe")) continue;
    if (entry.crc == crc) continue;
    lines.push_back("BAD " + std::string(kConfigName) + ": sv_patcher_crc32 " +
                    FormatCrc32(crc) + " names another patcher build than " +
                    std::string(kFileListName) + "'s " + path + " (" + FormatCrc32(entry.crc) +
                    "): patchers take the configuration's and never install the list's; "
                    "publish one build in both, or leave the patcher out of the client");
  }
  return lines;
}

bool IsHttpUrl(const std::string& text) {
  std::string lower = toLowerAscii(text.substr(0, 8));
  return lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0;
}

bool VerifyRelease(const std::string& dirOrUrl, const std::vector<std::string>& mirrors,
                   VerifySummary& summary, std::ostream& out, std::ostream& err,
                   bool showProgress) {
  summary = VerifySummary();
  std::unique_ptr<ReleaseSource> source;
  if (IsHttpUrl(dirOrUrl)) {
    source = std::make_unique<UrlSource>(dirOrUrl);
  } else {
    source = std::make_unique<FolderSource>(PathFromUtf8(dirOrUrl));
  }
  std::string list, problem;
  if (!source->ReadList(list, problem)) {
    err << "error: " << problem << "\n";
    return false;
  }
  std::vector<FileEntry> entries;
  std::wstring listError;
  if (!ParseFileList(list, entries, listError) && entries.empty() && !listError.empty() &&
      listError.find(L"HTML") != std::wstring::npos) {
    err << "error: " << toUtf8(listError) << "\n";
    return false;
  }
  std::string config;
  if (source->ReadConfig(config)) {
    for (const std::string& line : PatcherConflicts(config, entries)) {
      out << line << "\n";
      ++summary.conflicts;
    }
  }
  VerifyEntries(*source, list, false, summary, out, err, showProgress);
  VerifyMirrors(list, mirrors, false, summary, out, err, showProgress);
  PrintSummary(summary, out);
  return true;
}

bool IsConfigAddress(const std::string& text) {
  const std::string path = toLowerAscii(text.substr(0, text.find('?')));
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".xml") == 0;
}

bool VerifyFromConfig(const std::string& address, VerifySummary& summary, std::ostream& out,
                      std::ostream& err, bool showProgress) {
  summary = VerifySummary();
  std::string bytes;
  if (IsHttpUrl(address)) {
    UrlFetchResult r = FetchUrlToMemory(address, kConfigMaxBytes, bytes);
    if (!r.ok) {
      err << "error: " << address << ": " << r.error << "\n";
      return false;
    }
  } else if (!readWholeFile(WideFromPath(PathFromUtf8(address)), kConfigMaxBytes, bytes)) {
    err << "error: cannot read " << address << "\n";
    return false;
  }
  XmlDocument doc;
  std::string error;
  if (!doc.parse(decodeTextToUtf8(bytes), error) || !equalsNoCase(doc.name, "torrent_config")) {
    err << "error: " << address << " is no configuration (torrent_config): " << error << "\n";
    return false;
  }
  auto problem = [&](const std::string& text) {
    ++summary.configProblems;
    out << "BAD " << text << "\n";
  };
  if (trim(doc.attribute("run_path")).empty()) {
    problem("run_path is empty: players' START has no program to start; set run_path=\"GAME.exe\" "
            "(relative to the game folder) in " + std::string(kConfigName));
  }
  // The sources as the patcher takes them: each foreground_patch's folder and version, without
  // repeats, or else the configuration's own folder.
  std::vector<std::pair<std::string, std::string>> sources;  // base URL, crcversion
  std::map<std::string, std::vector<std::string>> mirrors;    // by base URL, as patchers take them
  for (const XmlNode& child : doc.children) {
    if (!equalsNoCase(child.name, "foreground_patch")) continue;
    const std::string url = trim(child.attribute("crcpatch_url"));
    const std::string version = trim(child.attribute("crcversion"));
    if (url.empty()) continue;
    const std::string base = toUtf8(sourceBaseUrl(toWide(url), toWide(version)));
    if (std::none_of(sources.begin(), sources.end(), [&](const auto& s) { return s.first == base; }))
      sources.emplace_back(base, version);
    for (const XmlNode& mirror : child.children) {
      const std::string at = trim(mirror.attribute("url"));
      if (!equalsNoCase(mirror.name, "sv_mirror") || at.empty()) continue;
      std::vector<std::string>& list = mirrors[base];
      const std::string mirrorBase = toUtf8(sourceBaseUrl(toWide(at), toWide(version)));
      if (mirrorBase != base && std::find(list.begin(), list.end(), mirrorBase) == list.end())
        list.push_back(mirrorBase);
    }
  }
  if (sources.empty()) sources.emplace_back(address.substr(0, address.find_last_of('/', address.find('?')) + 1), "");
  out << address << ": " << sources.size() << " source(s), run_path=\"" << trim(doc.attribute("run_path"))
      << "\"\n";

  std::map<uint32_t, std::string> patcherBuilds;  // the patcher's CRC in each list -> first source
  for (size_t i = 0; i < sources.size(); ++i) {
    const auto& [base, version] = sources[i];
    const std::string name = "source " + std::to_string(i + 1) + " (" + base + ")";
    if (!IsHttpUrl(base)) {
      problem(name + ": not an http:// or https:// address");
      continue;
    }
    std::string list;
    UrlFetchResult r = FetchUrlToMemory(joinUrl(base, kFileListName), kFileListMaxBytes, list);
    if (!r.ok) {
      problem(name + ": no " + kFileListName + " (" + r.error + ")" +
              (r.status == 404 && !version.empty()
                   ? ": the version folder crcversion=\"" + version + "\" does not exist on the server"
                   : r.status == 404 ? ": nothing was published at this address" : ""));
      continue;
    }
    std::vector<FileEntry> entries;
    std::wstring listError;
    if (!ParseFileList(list, entries, listError)) {
      problem(name + ": " + toUtf8(listError));
      continue;
    }
    for (const std::string& line : PatcherConflicts(bytes, entries)) {
      out << line << "\n";
      ++summary.conflicts;
    }
    const std::string named = PatcherNameOf(trim(doc.attribute("sv_patcher_url")));
    for (const FileEntry& entry : entries) {
      const std::string path = toUtf8(entry.path);
      if (path.find('\\') != std::string::npos ||
          (!equalsNoCase(path, "Sarvik.exe") && (named.empty() || !equalsNoCase(path, named))))
        continue;
      if (patcherBuilds.emplace(entry.crc, name).second && patcherBuilds.size() == 2) {
        out << "BAD sources disagree about the patcher: " << patcherBuilds.begin()->second << " and "
            << std::next(patcherBuilds.begin())->second << " list " << path
            << " with other CRCs; players get the one of the last source that lists it\n";
        ++summary.conflicts;
      }
    }
    UrlSource source(base);
    VerifyEntries(source, list, false, summary, out, err, showProgress);
    VerifyMirrors(list, mirrors[base], false, summary, out, err, showProgress);
  }
  PrintSummary(summary, out);
  if (summary.configProblems) out << summary.configProblems << " configuration problem(s)\n";
  return true;
}

bool VerifySignedRelease(const std::string& dirOrUrl, const ReleaseKey& key,
                         const std::vector<std::string>& mirrors, VerifySummary& summary,
                         std::ostream& out, std::ostream& err, bool showProgress) {
  summary = VerifySummary();
  auto bad = [&](const std::string& what) {
    ++summary.bad;
    out << "BAD " << what << "\n";
  };
  std::string manifestText, configText, error;
  if (!ReadBeside(dirOrUrl, kReleaseManifestName, kReleaseManifestLimit, manifestText, error) ||
      !ReadBeside(dirOrUrl, kConfigName, kReleaseManifestLimit, configText, error)) {
    err << "error: " << error << "\n";
    return false;
  }
  ReleaseManifest manifest;
  std::string_view body;
  ReleaseSignature signature;
  if (!ParseSignedManifest(manifestText, manifest, body, signature, error)) {
    bad(std::string(kReleaseManifestName) + ": " + error);
    return true;
  }
  if (!VerifyReleaseSignature(key, body, signature)) {
    bad(std::string(kReleaseManifestName) + ": not signed by key " + ReleaseKeyId(key));
    return true;
  }
  out << "release " << manifest.release << ", signed by key " << ReleaseKeyId(key)
      << ", expires " << FormatUtcTime(manifest.expires) << "\n";
  if (manifest.expires < int64_t(std::time(nullptr))) {
    bad(std::string(kReleaseManifestName) + ": expired at " + FormatUtcTime(manifest.expires));
  }
  if (ReleaseObjectOf(configText) != manifest.config) {
    bad(std::string(kConfigName) + ": does not match the hash in " + kReleaseManifestName);
  }
  std::vector<SignedSource> sources;
  if (!ReleaseSourcesOf(configText, PathFromUtf8(dirOrUrl), sources, error)) {
    bad(error);
    return true;
  }
  for (const SignedSource& s : sources) {
    auto named = manifest.lists.find(s.url);
    std::unique_ptr<ReleaseSource> source;
    if (IsHttpUrl(dirOrUrl)) {
      source = std::make_unique<UrlSource>(s.url);
    } else {
      source = std::make_unique<FolderSource>(s.list.parent_path());
    }
    std::string list;
    if (named == manifest.lists.end()) {
      bad("source " + s.url + ": " + kReleaseManifestName + " names no list for it");
    } else if (!source->ReadList(list, error)) {
      bad("source " + s.url + ": " + error);
    } else if (ReleaseObjectOf(list) != named->second) {
      bad("source " + s.url + ": " + kFileListName + " does not match the hash in " +
          kReleaseManifestName);
    } else {
      VerifyEntries(*source, list, true, summary, out, err, showProgress);
      // The signed list names every object by hash: what a mirror serves is held to the same.
      VerifyMirrors(list, mirrors, true, summary, out, err, showProgress);
    }
  }
  PrintSummary(summary, out);
  return true;
}

}  // namespace sv
