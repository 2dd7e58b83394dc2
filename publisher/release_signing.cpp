#include "publisher/release_signing.h"

#include <atomic>
#include <charconv>
#include <ctime>
#include <set>
#include <system_error>

#include "common/file.h"
#include "common/text.h"
#include "common/xml.h"
#include "release/file_list.h"
#include "release/url.h"
#include "publisher/parallel_work.h"
#include "publisher/path_convert.h"
#include "publisher/private_file.h"
#include "publisher/release_versions.h"
#include "release/release_manifest.h"

namespace sv {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kKeyFileLimit = 65536;

std::string NameOf(const fs::path& p) {
  std::string name;
  Utf8FromPath(p, name);
  return name;
}

// The sources in the patcher's order, each mapped to a list of this output folder: the folder of
// its crcversion, or the output folder itself without one.
bool SourcesOf(const XmlDocument& doc, const fs::path& out, std::vector<SignedSource>& sources,
               std::string& error) {
  std::set<std::string> seen;
  for (const XmlNode& child : doc.children) {
    if (!equalsNoCase(child.name, "foreground_patch")) continue;
    const std::string url = trim(child.attribute("crcpatch_url"));
    const std::string version = trim(child.attribute("crcversion"));
    if (url.empty()) continue;
    const std::string key = toUtf8(sourceBaseUrl(toWide(url), toWide(version)));
    if (!seen.insert(key).second) continue;
    if (!version.empty() && !IsValidVersionName(version)) {
      error = "the source " + key + " names crcversion \"" + version +
              "\", which is no folder of this output";
      return false;
    }
    sources.push_back({key, (version.empty() ? out : out / PathFromUtf8(version)) / kFileListName});
  }
  if (sources.empty()) {
    error = std::string(kConfigName) +
            " names no download source (foreground_patch with crcpatch_url); a signed release "
            "names each one";
    return false;
  }
  return true;
}

// The list of a source, which must name every object by its hash.
bool HashList(const SignedSource& source, ReleaseObject& object, std::string& error) {
  std::string bytes;
  if (!readWholeFile(WideFromPath(source.list), kFileListMaxBytes, bytes)) {
    error = "cannot read " + NameOf(source.list) + " (the list of " + source.url + ")";
    return false;
  }
  std::vector<FileEntry> entries;
  std::wstring problem;
  if (!ParseFileList(bytes, entries, problem)) {
    error = NameOf(source.list) + ": " + toUtf8(problem);
    return false;
  }
  for (const FileEntry& entry : entries) {
    if (!entry.object) {
      error = NameOf(source.list) + " names " + toUtf8(entry.path) +
              " without its SHA-256: publish it with build --sign-key";
      return false;
    }
  }
  object = ReleaseObjectOf(bytes);
  return true;
}

// The new patcher when the configuration names one and it lies in the output folder.
void PatcherObject(const XmlDocument& doc, const fs::path& out, ReleaseManifest& manifest,
                   std::ostream& err) {
  const std::string url = trim(doc.attribute("sv_patcher_url"));
  if (url.empty()) return;
  const std::string path = url.substr(0, url.find_first_of("?#"));
  const std::string name = path.substr(path.rfind('/') + 1);
  std::string bytes;
  if (name.empty() || !readWholeFile(WideFromPath(out / PathFromUtf8(name)), uint64_t(1) << 30,
                                     bytes)) {
    err << "warning: sv_patcher_url names " << url << ", which is not in the output folder as "
        << (name.empty() ? "a file" : name)
        << "; patchers with your key will not take a new patcher until it is signed\n";
    return;
  }
  manifest.patcher = ReleaseObjectOf(bytes);
}

// The number of the manifest published before, 0 without one.
uint64_t PreviousRelease(const fs::path& out) {
  std::string text;
  ReleaseManifest manifest;
  std::string_view body;
  ReleaseSignature signature;
  std::string error;
  if (!readWholeFile(WideFromPath(out / kReleaseManifestName), kReleaseManifestLimit, text) ||
      !ParseSignedManifest(text, manifest, body, signature, error)) {
    return 0;
  }
  return manifest.release;
}

}  // namespace

bool ReleaseSourcesOf(const std::string& configText, const fs::path& out,
                      std::vector<SignedSource>& sources, std::string& error) {
  XmlDocument doc;
  if (!doc.parse(decodeTextToUtf8(configText), error)) {
    error = std::string(kConfigName) + ": " + error;
    return false;
  }
  return SourcesOf(doc, out, sources, error);
}

bool ParseReleaseAge(const std::string& text, int64_t& seconds) {
  if (text.size() < 2) return false;
  int64_t unit = 0;
  switch (text.back()) {
    case 's': unit = 1; break;
    case 'm': unit = 60; break;
    case 'h': unit = 3600; break;
    case 'd': unit = 86400; break;
    default: return false;
  }
  uint32_t count = 0;
  const char* end = text.data() + text.size() - 1;
  const auto [stop, ec] = std::from_chars(text.data(), end, count);
  if (ec != std::errc() || stop != end || count == 0 || count > 36600) return false;
  seconds = int64_t(count) * unit;
  return true;
}

bool ReadPublicKeyFile(const fs::path& path, ReleaseKey& key, std::string& error) {
  std::string text;
  if (!readWholeFile(WideFromPath(path), kKeyFileLimit, text)) {
    error = "cannot read the public key " + NameOf(path);
    return false;
  }
  std::string why;
  if (!ParseReleaseKeyPem(text, key, why)) {
    error = NameOf(path) + " is not a release public key: " + why;
    return false;
  }
  return true;
}

bool ReadPrivateKeyFile(const fs::path& path, std::string& pem, std::string& error) {
  if (!readWholeFile(WideFromPath(path), kKeyFileLimit, pem)) {
    error = "cannot read the private key " + NameOf(path);
    return false;
  }
  return true;
}

bool WriteNewKeyPair(const fs::path& path, std::ostream& out, std::ostream& err) {
  fs::path pub = path;
  pub += ".pub";
  std::error_code e;
  for (const fs::path& p : {path, pub}) {
    if (fs::exists(p, e)) {
      err << "error: " << NameOf(p) << " exists already; a key is never overwritten\n";
      return false;
    }
  }
  std::string privatePem, publicPem, error;
  if (!GenerateReleaseKey(privatePem, publicPem, error)) {
    err << "error: " << error << "\n";
    return false;
  }
  if (!WritePrivateFile(path, privatePem, error) ||
      !writeFileAtomic(WideFromPath(pub), publicPem.data(), publicPem.size())) {
    err << "error: " << (error.empty() ? "cannot write " + NameOf(pub) : error) << "\n";
    return false;
  }
  ReleaseKey key;
  ParseReleaseKeyPem(publicPem, key, error);
  out << "wrote the private key " << NameOf(path) << " and the public key " << NameOf(pub)
      << " (key " << ReleaseKeyId(key) << ")\n";
  return true;
}

bool HashListedObjects(const fs::path& release, std::vector<ListedFile>& listed, unsigned jobs,
                       std::ostream& err) {
  std::atomic<bool> stop{false};
  std::vector<char> failed(listed.size(), 0);
  RunInParallel(
      listed.size(), WorkerCount(jobs, listed.size()),
      [&](size_t i, unsigned) {
        ListedFile& f = listed[i];
        if (f.hasObject) return;  // hashed while it was written
        const fs::path lz = release / PathFromUtf8(f.path + ".lz");
        f.hasObject = Sha256OfFile(WideFromPath(lz), f.object.digest, f.object.size);
        if (!f.hasObject) {
          failed[i] = 1;
          stop.store(true);
        }
      },
      [] {}, stop);
  for (size_t i = 0; i < listed.size(); ++i) {
    if (failed[i]) {
      err << "error: cannot read " << listed[i].path << ".lz to hash it\n";
      return false;
    }
  }
  return true;
}

bool SigningReady(const fs::path& out, const SigningOptions& options, std::ostream& err) {
  std::string privatePem, error;
  ReleaseSignature signature;
  ReleaseKey publicKey;
  if (!ReadPrivateKeyFile(options.key, privatePem, error) ||
      !SignRelease(privatePem, "probe", signature, publicKey, error)) {
    err << "error: " << (error.empty() ? NameOf(options.key) : error) << "\n";
    return false;
  }
  const uint64_t before = PreviousRelease(out);
  if (options.release != 0 && options.release <= before) {
    err << "error: release " << options.release << " is not above release " << before
        << ", published before into this folder; patchers would refuse it\n";
    return false;
  }
  return true;
}

bool SignPublishedRelease(const fs::path& out, const SigningOptions& options,
                          std::ostream& report, std::ostream& err, const fs::path& configDir) {
  const fs::path& home = configDir.empty() ? out : configDir;
  std::string privatePem, error, configText;
  if (!ReadPrivateKeyFile(options.key, privatePem, error)) {
    err << "error: " << error << "\n";
    return false;
  }
  const fs::path configPath = home / kConfigName;
  if (!readWholeFile(WideFromPath(configPath), kReleaseManifestLimit, configText)) {
    err << "error: a signed release covers " << kConfigName << ", and " << NameOf(configPath)
        << " cannot be read; give --base-url to have one written\n";
    return false;
  }
  XmlDocument doc;
  std::vector<SignedSource> sources;
  if (!doc.parse(decodeTextToUtf8(configText), error) || !SourcesOf(doc, out, sources, error)) {
    err << "error: " << kConfigName << ": " << error << "\n";
    return false;
  }
  ReleaseManifest manifest;
  manifest.config = ReleaseObjectOf(configText);
  for (const SignedSource& source : sources) {
    ReleaseObject object;
    if (!HashList(source, object, error)) {
      err << "error: " << error << "\n";
      return false;
    }
    manifest.lists[source.url] = object;
  }
  PatcherObject(doc, out, manifest, err);
  const uint64_t before = PreviousRelease(out);
  manifest.release = options.release != 0 ? options.release : before + 1;
  if (manifest.release <= before) {
    err << "error: release " << manifest.release << " is not above release " << before
        << ", published before into this folder; patchers would refuse it\n";
    return false;
  }
  manifest.expires = int64_t(std::time(nullptr)) + options.lifetime;
  manifest.nextKey = options.nextKey;
  const std::string body = FormatManifestBody(manifest);
  ReleaseSignature signature;
  ReleaseKey publicKey;
  if (!SignRelease(privatePem, body, signature, publicKey, error)) {
    err << "error: " << NameOf(options.key) << ": " << error << "\n";
    return false;
  }
  const std::string signedText = FormatSignedManifest(body, signature);
  if (!writeFileAtomic(WideFromPath(home / kReleaseManifestName), signedText.data(),
                       signedText.size())) {
    err << "error: cannot write " << NameOf(home / kReleaseManifestName) << "\n";
    return false;
  }
  report << "signed release " << manifest.release << " with key " << ReleaseKeyId(publicKey)
         << ": " << sources.size() << " list(s)" << (manifest.patcher ? ", the patcher" : "")
         << ", expires " << FormatUtcTime(manifest.expires);
  if (manifest.nextKey) report << ", next key " << ReleaseKeyId(*manifest.nextKey);
  report << "\n";
  return true;
}

}  // namespace sv
