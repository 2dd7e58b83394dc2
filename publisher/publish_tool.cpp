#include "publisher/publish_tool.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>

#include "common/crc32.h"
#include "publisher/lz_file.h"
#include "publisher/path_convert.h"
#include "publisher/progress_line.h"
#include "publisher/release_build.h"
#include "publisher/release_files.h"
#include "publisher/release_signing.h"
#include "publisher/release_verify.h"
#include "publisher/release_versions.h"
#include "publisher/update_size.h"
#include "release/release_manifest.h"

namespace sv {

namespace {

constexpr char kUsage[] =
    "Usage: SarvikPublish <command> [arguments]\n"
    "\n"
    "Commands:\n"
    "  build CLIENT_DIR OUT_DIR [--base-url URL] [--exclude GLOB]... [--level N] [--jobs N]\n"
    "        [--versioned [--version NAME] [--keep N] | --flat] [--keep-removed]\n"
    "        [--sign-key KEY [--expires AGE] [--next-key NEW.pub] [--release N]] [--chunks]\n"
    "        [--stage AT]\n"
    "      publish a game client folder as a crclist and .lz files\n"
    "  promote OUT_DIR VERSION [--sign-key KEY ...]\n"
    "      send patchers to a version published with --stage\n"
    "  size OLD_DIR NEW_DIR\n"
    "      how much a player on the release OLD_DIR downloads to reach NEW_DIR\n"
    "  verify DIR_OR_URL|CONFIG_URL [--key KEY.pub] [--mirror URL]...\n"
    "      unpack every .lz of a published release and check it against the crclist\n"
    "  crc FILE\n"
    "      the sv_patcher_crc32 line of a patcher (after signing it on your own)\n"
    "  keygen KEY\n"
    "      make a release key: KEY (private) and KEY.pub (for the builder)\n"
    "  sign OUT_DIR --sign-key KEY [--expires AGE] [--next-key NEW.pub] [--release N]\n"
    "      sign a release again after its configuration was edited by hand\n"
    "  lz compress IN OUT [--level N]\n"
    "  lz decompress IN OUT\n"
    "      one .lz file\n"
    "\n"
    "\"SarvikPublish <command> --help\" tells more. Exit codes: 0 done, 1 failed, 2 bad "
    "arguments.\n";

constexpr char kBuildHelp[] =
    "Usage: SarvikPublish build CLIENT_DIR OUT_DIR [--base-url URL] [--exclude GLOB]... "
    "[--level N]\n"
    "         [--jobs N] [--versioned [--version NAME] [--keep N] | --flat] [--keep-removed]\n"
    "         [--sign-key KEY [--expires AGE] [--next-key NEW.pub] [--release N]] [--chunks]\n"
    "         [--stage AT]\n"
    "\n"
    "Writes OUT_DIR/<path>.lz for every file below CLIENT_DIR and OUT_DIR/crclist listing the\n"
    "CRC-32, size and path of each. Upload OUT_DIR to the web server as it is. Once OUT_DIR\n"
    "holds draskeltorrent.config.xml, every build is versioned (below) unless --flat is given.\n"
    "Prints the files that changed since the last build and what players download.\n"
    "\n"
    "  --base-url URL   also write draskeltorrent.config.xml with URL as the download source\n"
    "                   (an existing one is kept: it may hold your edits)\n"
    "  --exclude GLOB   leave out matching files: '*' and '?' within a name, '**' across\n"
    "                   folders; a pattern without '/' applies to every name in a path\n"
    "                   (\"*.log\", \"screenshots\"), one with '/' to the path from the top\n"
    "                   (\"logs/old\"); letters match either case. May be repeated.\n"
    "  --level N        1 (fastest) to 9 (smallest, the default)\n"
    "  --jobs N         compressing threads (default: one per processor core); a file over\n"
    "                   8 MiB is cut into 4 MiB blocks that all of them share; the output\n"
    "                   is the same for every N\n"
    "  --versioned      write the release into a new folder OUT_DIR/<version>/ and, once it is\n"
    "                   complete, set crcversion in OUT_DIR/draskeltorrent.config.xml (of\n"
    "                   every download source) to it, marked sv_version_immutable=\"1\" so\n"
    "                   patchers let caches answer its lists; unchanged .lz files are shared\n"
    "                   with the version before by hard link (copied where links are not\n"
    "                   possible).\n"
    "                   Needs that configuration, or --base-url to write one.\n"
    "                   The default when OUT_DIR holds draskeltorrent.config.xml.\n"
    "  --flat           replace the release in place instead, as a first build does: a player\n"
    "                   downloading while the files change ends the update in an error and\n"
    "                   must start it again\n"
    "  --keep-removed   files gone from the client stay on players' disks; by default the list\n"
    "                   names them and patchers delete the copies they installed (never a file\n"
    "                   the player made)\n"
    "  --version NAME   the new version's name (default: the time in UTC, YYYYMMDD-HHMMSS)\n"
    "  --keep N         keep the N newest versions (default 3), and always the one the\n"
    "                   configuration names and the one before it; older ones are removed\n"
    "  --sign-key KEY   sign the release with the private key KEY (from keygen): every crclist\n"
    "                   line names its .lz by SHA-256, and OUT_DIR/sarvik.release, written\n"
    "                   last, names the configuration, every list it names and the new\n"
    "                   patcher of sv_patcher_url (when that file is in OUT_DIR). Patchers\n"
    "                   built with KEY.pub install nothing else. Needs the configuration.\n"
    "  --expires AGE    how long the signature holds: a number and s, m, h or d (default\n"
    "                   30d). Publish or sign again before then: patchers with your key\n"
    "                   refuse an expired release, so nobody can hold them on an old one.\n"
    "  --next-key NEW.pub  announce the key of the releases to come (see keygen --help)\n"
    "  --release N      the release number (default: one above the last one signed here);\n"
    "                   patchers never go back to a lower one\n"
    "  --chunks         also cut every file of 1 MiB or more into chunks of about 16 KiB,\n"
    "                   stored once in OUT_DIR/chunks/ whatever file or version holds them,\n"
    "                   and list them in crclist.chunks: a patcher then downloads only the\n"
    "                   chunks its old files lack. Patchers without it use the .lz as before.\n"
    "                   A versioned build prints what a player on each kept version\n"
    "                   downloads; chunks no kept version uses are removed.\n"
    "  --stage AT       a versioned build that does not go live yet: the new version gets its\n"
    "                   own configuration, OUT_DIR/<version>/draskeltorrent.config.xml, and\n"
    "                   OUT_DIR/draskeltorrent.config.xml keeps naming the current version\n"
    "                   while it announces the new one (sv_next, replacing an earlier\n"
    "                   announcement) to go live at AT, a UTC time as 2026-12-24T18:00:00Z.\n"
    "                   Patchers download what it needs ahead, beside the game, and install\n"
    "                   it when you switch with `SarvikPublish promote OUT_DIR <version>`.\n"
    "                   --keep never removes the announced version.\n"
    "\n"
    "Publishing into the folder a live server serves: without --versioned each .lz is replaced\n"
    "where it lies, so a patcher that read the old crclist a moment before downloads new bytes\n"
    "for an old CRC, fails its check and downloads again. With --versioned nothing a patcher\n"
    "may be reading is changed: it sees the whole old release or the whole new one.\n"
    "\n"
    "Left out without asking: the patcher's own files in a client copied from an installed\n"
    "game (the temp folder with Sarvik.log and Sarvik.cache, Sarvik.wtest and the local\n"
    "notice file draskeltorrent.config.xml), and pipes, sockets and devices; each is named.\n"
    "\n"
    "A rebuild compresses only files whose size, time or CRC changed since the last build\n"
    "(recorded in OUT_DIR/sarvikpublish.manifest, with sarvikpublish.journal while a build\n"
    "runs, so a build stopped at any moment never leaves a .lz the next one trusts wrongly)\n"
    "and removes the .lz of files that are gone. Every file is written under a temporary name\n"
    "and renamed; crclist and the configuration come last. A path the patcher would refuse\n"
    "(Windows device names such as con or lpt1, the characters : * ? \" < > | \\, names\n"
    "ending in a dot or a space, more than 240 characters, two paths - or a file and a\n"
    "folder - that differ only in case), a link that leads out of the client or to nothing,\n"
    "an output folder inside the client folder (unless --exclude leaves it out) and a\n"
    "client folder inside the output folder stop the build before anything is written. A\n"
    "link to a file inside the client is published as that file.\n";

constexpr char kVerifyHelp[] =
    "Usage: SarvikPublish verify CONFIG_URL\n"
    "       SarvikPublish verify DIR_OR_URL [--key KEY.pub] [--mirror URL]...\n"
    "\n"
    "With the configuration's address (the config_url the patcher is built with, ending in\n"
    ".xml), starts where a patcher starts: reads the configuration, names what would fail\n"
    "players (an empty run_path, a source without a crclist - a crcversion naming a version\n"
    "folder that does not exist -, sources whose lists name different patcher builds) and then\n"
    "checks every source as below. This is the check to run after uploading.\n"
    "\n"
    "Reads the crclist of a release folder or of a web address (http:// or https://), unpacks\n"
    "every .lz with the patcher's own decoder and compares size and CRC-32 with the list.\n"
    "Prints a line starting with BAD for every missing, damaged or mismatching file and every\n"
    "list line the patcher would skip, then a summary. Exits with 0 only when all is good.\n"
    "\n"
    "The configuration beside the list (draskeltorrent.config.xml, in the folder or the one\n"
    "above it, or at the address) is read too: when its sv_patcher_crc32 names another build\n"
    "than the list's entry for the patcher's own file, that is a BAD line as well. Patchers\n"
    "take the configuration's build and never install the list's.\n"
    "\n"
    "--mirror URL (any number of times) names a mirror that stands in for DIR_OR_URL: each\n"
    "must serve every .lz of the list, byte for byte (with --key, by the SHA-256 the signed\n"
    "list names), and a crclist it carries must be the same. With CONFIG_URL the mirrors are\n"
    "the configuration's own (sv_mirror in each foreground_patch) and are checked the same way.\n"
    "\n"
    "With --key, DIR_OR_URL is the folder of the configuration and the check is a patcher's\n"
    "with that key: sarvik.release must be signed by it and not expired, the configuration\n"
    "and the list of every source it names must match their hashes, and every .lz its SHA-256.\n";

constexpr char kCrcHelp[] =
    "Usage: SarvikPublish crc FILE\n"
    "\n"
    "Prints the line sv_patcher_crc32=XXXXXXXX for FILE, to put into draskeltorrent.config.xml\n"
    "beside sv_patcher_url. The builder prints it for the patcher it writes; a patcher signed\n"
    "afterwards (osslsigncode on Linux, signtool on Windows) has other bytes and needs this.\n";

constexpr char kKeygenHelp[] =
    "Usage: SarvikPublish keygen KEY\n"
    "\n"
    "Makes a release key (ECDSA P-256): the private key KEY, readable by you alone, and the\n"
    "public key KEY.pub. An existing file is never overwritten.\n"
    "\n"
    "Give KEY.pub to the builder (release_key): its patchers then install and start only what\n"
    "a release signed with KEY names. Keep KEY off the web server, on the machine that\n"
    "publishes, with a copy somewhere offline. If KEY is lost, the patchers in players' hands\n"
    "accept no new release until players get a patcher built with a new key by hand; move to\n"
    "a new key before that happens with build --next-key NEW.pub. If KEY leaks, anyone who\n"
    "controls the path to players can sign releases: announce a new key with --next-key at\n"
    "once and build new patchers with it.\n";

constexpr char kSignHelp[] =
    "Usage: SarvikPublish sign OUT_DIR --sign-key KEY [--expires AGE] [--next-key NEW.pub]\n"
    "         [--release N]\n"
    "\n"
    "Writes OUT_DIR/sarvik.release again for the configuration and the lists as they are now:\n"
    "after the configuration was edited by hand, or to renew the expiry. The lists must come\n"
    "from build --sign-key. Options as for build.\n";

constexpr char kPromoteHelp[] =
    "Usage: SarvikPublish promote OUT_DIR VERSION [--sign-key KEY [--expires AGE]\n"
    "         [--next-key NEW.pub] [--release N]]\n"
    "\n"
    "Sets crcversion in OUT_DIR/draskeltorrent.config.xml to VERSION (a version below OUT_DIR,\n"
    "usually one published with build --stage) and removes the sv_next announcement; the file\n"
    "is replaced in one rename. Upload the configuration alone afterwards: patchers that\n"
    "downloaded the version ahead install it from their disks. A signed release needs\n"
    "--sign-key (the options as for build), and sarvik.release goes up with it.\n";

constexpr char kSizeHelp[] =
    "Usage: SarvikPublish size OLD_DIR NEW_DIR\n"
    "\n"
    "Prints how many bytes a patcher holding the release in OLD_DIR downloads to reach the one\n"
    "in NEW_DIR (changed chunks where both were built with --chunks, else whole .lz files), and\n"
    "what share of a fresh install's download that is.\n";

constexpr char kLzHelp[] =
    "Usage: SarvikPublish lz compress IN OUT [--level N]\n"
    "       SarvikPublish lz decompress IN OUT\n"
    "\n"
    "A .lz file is the 4-byte length of the original followed by an LZO1X stream. Levels run\n"
    "from 1 (fastest) to 9 (smallest, the default). The output is written under a temporary\n"
    "name and renamed when complete.\n";

struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> options;
  bool help = false;
};

// Options that take a value ("--name value" and "--name=value" are both accepted), and `flags`,
// which take none.
bool Parse(const std::vector<std::string>& args, size_t from,
           const std::vector<std::string>& known, Arguments& parsed, std::ostream& err,
           const std::vector<std::string>& flags = {}) {
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      parsed.help = true;
      continue;
    }
    if (a.rfind("--", 0) != 0) {
      parsed.positional.push_back(a);
      continue;
    }
    std::string name = a, value;
    bool hasValue = false;
    if (size_t eq = a.find('='); eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      hasValue = true;
    }
    if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
      if (hasValue) {
        err << "error: " << name << " takes no value\n";
        return false;
      }
      parsed.options[name].push_back({});
      continue;
    }
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      err << "error: unknown option " << name << "\n";
      return false;
    }
    if (!hasValue) {
      if (i + 1 >= args.size()) {
        err << "error: " << name << " needs a value\n";
        return false;
      }
      value = args[++i];
    }
    parsed.options[name].push_back(value);
  }
  return true;
}

bool ParseLevel(const Arguments& a, int& level, std::ostream& err) {
  auto it = a.options.find("--level");
  if (it == a.options.end()) return true;
  const std::string& text = it->second.back();
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), level);
  if (ec != std::errc() || end != text.data() + text.size() || level < kLzoFastLevel ||
      level > kLzoBestLevel) {
    err << "error: --level takes a number from 1 to 9\n";
    return false;
  }
  return true;
}

// A whole number from `low` up, from the last of the option's values.
bool ParseCount(const Arguments& a, const char* name, unsigned low, unsigned& value,
                std::ostream& err) {
  auto it = a.options.find(name);
  if (it == a.options.end()) return true;
  const std::string& text = it->second.back();
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > 4096) {
    err << "error: " << name << " takes a whole number from " << low << " to 4096\n";
    return false;
  }
  return true;
}

int Usage(std::ostream& err, const char* problem, const char* help) {
  err << "error: " << problem << "\n\n" << help;
  return kExitUsage;
}

const std::vector<std::string> kSigningOptions = {"--sign-key", "--expires", "--next-key",
                                                  "--release"};

// The signing options when --sign-key is given; kExitOk, or the exit code of the failure.
int ParseSigning(const Arguments& a, std::optional<SigningOptions>& signing, std::ostream& err,
                 const char* help) {
  auto it = a.options.find("--sign-key");
  if (it == a.options.end()) {
    for (const std::string& name : kSigningOptions) {
      if (a.options.count(name)) return Usage(err, "--expires, --next-key and --release go with "
                                              "--sign-key", help);
    }
    return kExitOk;
  }
  SigningOptions o;
  o.key = PathFromUtf8(it->second.back());
  if (auto e = a.options.find("--expires"); e != a.options.end() &&
                                            !ParseReleaseAge(e->second.back(), o.lifetime)) {
    return Usage(err, "--expires takes a number followed by s, m, h or d (\"30d\")", help);
  }
  if (auto n = a.options.find("--next-key"); n != a.options.end()) {
    ReleaseKey next;
    std::string error;
    if (!ReadPublicKeyFile(PathFromUtf8(n->second.back()), next, error)) {
      err << "error: " << error << "\n";
      return kExitFailed;
    }
    o.nextKey = next;
  }
  if (auto r = a.options.find("--release"); r != a.options.end()) {
    const std::string& text = r->second.back();
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), o.release);
    if (ec != std::errc() || end != text.data() + text.size() || o.release == 0) {
      return Usage(err, "--release takes a whole number from 1", help);
    }
  }
  signing = o;
  return kExitOk;
}

int Build(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
          bool showProgress) {
  Arguments a;
  std::vector<std::string> known = {"--base-url", "--exclude", "--level", "--jobs", "--version",
                                    "--keep", "--stage"};
  known.insert(known.end(), kSigningOptions.begin(), kSigningOptions.end());
  if (!Parse(args, 1, known, a, err, {"--versioned", "--flat", "--keep-removed", "--chunks"})) {
    return kExitUsage;
  }
  if (a.help) {
    out << kBuildHelp;
    return kExitOk;
  }
  if (a.positional.size() != 2) return Usage(err, "build takes CLIENT_DIR and OUT_DIR", kBuildHelp);
  BuildOptions options;
  options.client = PathFromUtf8(a.positional[0]);
  options.out = PathFromUtf8(a.positional[1]);
  options.showProgress = showProgress;
  if (auto it = a.options.find("--exclude"); it != a.options.end()) options.excludes = it->second;
  if (auto it = a.options.find("--base-url"); it != a.options.end()) {
    options.baseUrl = it->second.back();
    if (!IsHttpUrl(options.baseUrl)) {
      return Usage(err, "--base-url must start with http:// or https://", kBuildHelp);
    }
  }
  if (!ParseLevel(a, options.level, err)) return kExitUsage;
  if (!ParseCount(a, "--jobs", 1, options.jobs, err)) return kExitUsage;
  const bool flat = a.options.count("--flat") != 0;
  if (flat && a.options.count("--versioned")) {
    return Usage(err, "--flat and --versioned exclude each other", kBuildHelp);
  }
  // A folder that already holds a configuration is live: replacing files under a player who is
  // downloading them fails that player's update, so such builds go into a version of their own.
  std::error_code noConfig;
  options.versioned = a.options.count("--versioned") != 0 ||
                      (!flat && (a.options.count("--stage") ||
                                 std::filesystem::exists(options.out / kConfigName, noConfig)));
  options.keepRemoved = a.options.count("--keep-removed") != 0;
  options.chunks = a.options.count("--chunks") != 0;
  if (!options.versioned && (a.options.count("--version") || a.options.count("--keep"))) {
    return Usage(err, "--version and --keep go with --versioned", kBuildHelp);
  }
  if (auto it = a.options.find("--version"); it != a.options.end()) {
    options.version = it->second.back();
    if (!IsValidVersionName(options.version)) {
      return Usage(err,
                   "--version takes letters, digits, '.', '-' and '_' (at most 64, no leading "
                   "or trailing dot)",
                   kBuildHelp);
    }
  }
  if (auto it = a.options.find("--stage"); it != a.options.end()) {
    int64_t when = 0;
    if (!ParseUtcTime(it->second.back(), when)) {
      return Usage(err, "--stage takes the go-live time in UTC as 2026-12-24T18:00:00Z",
                   kBuildHelp);
    }
    if (!options.versioned) {
      return Usage(err, "--stage publishes a version beside the live one: it excludes --flat",
                   kBuildHelp);
    }
    if (when < int64_t(std::time(nullptr))) {
      err << "warning: " << it->second.back() << " has passed; patchers still wait for "
          << "promote\n";
    }
    options.stageAt = it->second.back();
  }
  unsigned keep = unsigned(options.keep);
  if (!ParseCount(a, "--keep", 1, keep, err)) return kExitUsage;
  options.keep = keep;
  if (int code = ParseSigning(a, options.signing, err, kBuildHelp); code != kExitOk) return code;
  BuildSummary summary;
  return BuildRelease(options, summary, out, err) ? kExitOk : kExitFailed;
}

int Verify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           bool showProgress) {
  Arguments a;
  if (!Parse(args, 1, {"--key", "--mirror"}, a, err)) return kExitUsage;
  if (a.help) {
    out << kVerifyHelp;
    return kExitOk;
  }
  if (a.positional.size() != 1) return Usage(err, "verify takes DIR_OR_URL", kVerifyHelp);
  std::vector<std::string> mirrors;
  if (auto it = a.options.find("--mirror"); it != a.options.end()) mirrors = it->second;
  if (!mirrors.empty() && IsConfigAddress(a.positional[0]) && !a.options.count("--key")) {
    return Usage(err, "a configuration names its own mirrors (sv_mirror): --mirror goes with "
                      "DIR_OR_URL", kVerifyHelp);
  }
  VerifySummary summary;
  if (auto it = a.options.find("--key"); it != a.options.end()) {
    ReleaseKey key;
    std::string error;
    if (!ReadPublicKeyFile(PathFromUtf8(it->second.back()), key, error)) {
      err << "error: " << error << "\n";
      return kExitFailed;
    }
    if (!VerifySignedRelease(a.positional[0], key, mirrors, summary, out, err, showProgress)) {
      return kExitFailed;
    }
  } else if (IsConfigAddress(a.positional[0])) {
    if (!VerifyFromConfig(a.positional[0], summary, out, err, showProgress)) return kExitFailed;
  } else if (!VerifyRelease(a.positional[0], mirrors, summary, out, err, showProgress)) {
    return kExitFailed;
  }
  return summary.bad == 0 && summary.invalidLines == 0 && summary.conflicts == 0 &&
                 summary.configProblems == 0
             ? kExitOk
             : kExitFailed;
}

int Crc(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!Parse(args, 1, {}, a, err)) return kExitUsage;
  if (a.help) {
    out << kCrcHelp;
    return kExitOk;
  }
  if (a.positional.size() != 1) return Usage(err, "crc takes FILE", kCrcHelp);
  uint32_t crc = 0;
  uint64_t size = 0;
  if (!Crc32File(WideFromPath(PathFromUtf8(a.positional[0])), crc, size)) {
    err << "error: cannot read " << a.positional[0] << "\n";
    return kExitFailed;
  }
  // Upper case, as the builder prints it.
  std::string hex = FormatCrc32(crc);
  std::transform(hex.begin(), hex.end(), hex.begin(), [](char c) { return char(std::toupper(c)); });
  out << "sv_patcher_crc32=" << hex << "\n";
  return kExitOk;
}

int Keygen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!Parse(args, 1, {}, a, err)) return kExitUsage;
  if (a.help) {
    out << kKeygenHelp;
    return kExitOk;
  }
  if (a.positional.size() != 1) return Usage(err, "keygen takes KEY", kKeygenHelp);
  return WriteNewKeyPair(PathFromUtf8(a.positional[0]), out, err) ? kExitOk : kExitFailed;
}

int Sign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!Parse(args, 1, kSigningOptions, a, err)) return kExitUsage;
  if (a.help) {
    out << kSignHelp;
    return kExitOk;
  }
  if (a.positional.size() != 1) return Usage(err, "sign takes OUT_DIR", kSignHelp);
  std::optional<SigningOptions> signing;
  if (int code = ParseSigning(a, signing, err, kSignHelp); code != kExitOk) return code;
  if (!signing) return Usage(err, "sign needs --sign-key", kSignHelp);
  const auto dir = PathFromUtf8(a.positional[0]);
  return SigningReady(dir, *signing, err) && SignPublishedRelease(dir, *signing, out, err)
             ? kExitOk
             : kExitFailed;
}

int Promote(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!Parse(args, 1, kSigningOptions, a, err)) return kExitUsage;
  if (a.help) {
    out << kPromoteHelp;
    return kExitOk;
  }
  if (a.positional.size() != 2) return Usage(err, "promote takes OUT_DIR and VERSION", kPromoteHelp);
  std::optional<SigningOptions> signing;
  if (int code = ParseSigning(a, signing, err, kPromoteHelp); code != kExitOk) return code;
  return PromoteRelease(PathFromUtf8(a.positional[0]), a.positional[1], signing, out, err)
             ? kExitOk
             : kExitFailed;
}

int Size(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!Parse(args, 1, {}, a, err)) return kExitUsage;
  if (a.help) {
    out << kSizeHelp;
    return kExitOk;
  }
  if (a.positional.size() != 2) return Usage(err, "size takes OLD_DIR and NEW_DIR", kSizeHelp);
  UpdateSize size;
  std::string error;
  if (!MeasureUpdate(PathFromUtf8(a.positional[0]), PathFromUtf8(a.positional[1]), size, error)) {
    err << "error: " << error << "\n";
    return kExitFailed;
  }
  out << FormatUpdateSize(a.positional[0], size) << "\n";
  return kExitOk;
}

int Lz(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Arguments a;
  if (!Parse(args, 1, {"--level"}, a, err)) return kExitUsage;
  if (a.help) {
    out << kLzHelp;
    return kExitOk;
  }
  if (a.positional.size() != 3 ||
      (a.positional[0] != "compress" && a.positional[0] != "decompress")) {
    return Usage(err, "lz takes compress or decompress, IN and OUT", kLzHelp);
  }
  const bool compress = a.positional[0] == "compress";
  int level = kLzoDefaultLevel;
  if (!ParseLevel(a, level, err)) return kExitUsage;
  if (!compress && a.options.count("--level")) {
    return Usage(err, "--level is for compress only", kLzHelp);
  }
  const auto in = PathFromUtf8(a.positional[1]), to = PathFromUtf8(a.positional[2]);
  LzFileResult r = compress ? CompressFile(in, to, level) : DecompressFile(in, to);
  if (!r.ok) {
    err << "error: " << r.error << "\n";
    return kExitFailed;
  }
  out << (compress ? FormatBytes(r.size) + " -> " + FormatBytes(r.lzSize)
                   : FormatBytes(r.size))
      << ", CRC " << FormatCrc32(r.crc) << "\n";
  return kExitOk;
}

}  // namespace

int RunPublishTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool showProgress) {
  if (args.empty()) {
    err << "error: no command given\n\n" << kUsage;
    return kExitUsage;
  }
  const std::string& command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    out << kUsage;
    return kExitOk;
  }
  if (command == "build") return Build(args, out, err, showProgress);
  if (command == "verify") return Verify(args, out, err, showProgress);
  if (command == "lz") return Lz(args, out, err);
  if (command == "keygen") return Keygen(args, out, err);
  if (command == "crc") return Crc(args, out, err);
  if (command == "sign") return Sign(args, out, err);
  if (command == "size") return Size(args, out, err);
  if (command == "promote") return Promote(args, out, err);
  err << "error: unknown command " << command << "\n\n" << kUsage;
  return kExitUsage;
}

}  // namespace sv
