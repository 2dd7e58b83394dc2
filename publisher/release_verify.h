#pragma once
// `SarvikPublish verify`: reads a release's file list from a folder or a URL, unpacks every ".lz"
// with the patcher's own decoder and compares size and CRC with the list. Every problem is
// reported by name: a missing or damaged ".lz", one that unpacks to other bytes, every list line
// the patcher would skip, and a configuration beside the list ("draskeltorrent.config.xml" in the
// folder or the one above it, or at the address) that names another patcher build than the list.
#include <ostream>
#include <string>
#include <vector>

#include "release/release_key.h"

namespace sv {

struct VerifySummary {
  size_t files = 0;
  size_t bad = 0;            // files missing, damaged or not matching their line
  size_t invalidLines = 0;   // list lines the patcher skips
  size_t conflicts = 0;      // the configuration and the list name two patcher builds
  size_t configProblems = 0;  // a configuration that fails players: no list, no run_path
};

// True for the address of a configuration document (a path or URL ending in ".xml") rather than
// a release folder.
bool IsConfigAddress(const std::string& text);

// Starts where a patcher starts: the configuration at `address` (URL or file). Names what would
// fail players: an empty run_path, a source without a list (a crcversion naming a version folder
// that is not there), sources whose lists disagree about the patcher; then checks every source's
// list and objects, and each source's sv_mirror bases against its list. False when the
// configuration itself cannot be had or read.
bool VerifyFromConfig(const std::string& address, VerifySummary& summary, std::ostream& out,
                      std::ostream& err, bool showProgress);

struct FileEntry;

// A configuration that names a patcher build (sv_patcher_url with a valid sv_patcher_crc32)
// while the list names the patcher's file (the file name of sv_patcher_url without ".lz" and
// query, or "Sarvik.exe", at the top of the game folder) with another CRC: the patcher takes the
// configuration's build and never installs the list's. One report line per such entry.
std::vector<std::string> PatcherConflicts(const std::string& configText,
                                          const std::vector<FileEntry>& entries);

// False when the list itself cannot be had; otherwise true, with the findings in `summary`.
// Each of `mirrors` (base URLs that stand in for DIR_OR_URL) must serve the same objects.
bool VerifyRelease(const std::string& dirOrUrl, const std::vector<std::string>& mirrors,
                   VerifySummary& summary, std::ostream& out, std::ostream& err,
                   bool showProgress);

// The same as a patcher with `key` checks it: DIR_OR_URL holds the configuration and the signed
// manifest; the manifest's signature and expiry, the configuration, the list of every source it
// names and every ".lz" (by SHA-256 too) are checked, and each failure is named.
bool VerifySignedRelease(const std::string& dirOrUrl, const ReleaseKey& key,
                         const std::vector<std::string>& mirrors, VerifySummary& summary,
                         std::ostream& out, std::ostream& err, bool showProgress);

bool IsHttpUrl(const std::string& text);

}  // namespace sv
