#pragma once
// The builder's session file ("olusturucu.ini"): key=value lines in UTF-8, and what a session
// means for a build: the skin to load, the fields written back into it, the version texts and the
// output and signing choices. The password is never part of a session.
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "builder/build_request.h"
#include "builder/skin_import.h"

namespace sv {

constexpr size_t kSessionFileMaxSize = 1048576;

// The lines of a session text: empty lines and lines starting with ';' skipped, each split at its
// first '='; a later line for the same key wins.
std::map<std::string, std::string> ParseSessionText(std::string_view text);

struct BuilderSession {
  std::map<std::string, std::string> values;
  // The value of a key (UTF-8 decoded), or empty when the key is absent.
  std::wstring text(const std::string& key) const;
  bool has(const std::string& key) const { return values.count(key) != 0; }
};

// conn (1-8 only) and the four switches ("1" is on), each only where the session has its key.
void ApplySessionBehaviour(const BuilderSession& session, int32_t& connections, bool& closeOnStart,
                           bool& autoStart, bool& allowError, bool& browserEmulation);

// The session's values of the skin's links, by ButtonLink::key ("link.ID", "lang.KEY"). A
// session written before links were keyed by what they are names a link by its control index
// ("link.7"): such a value goes to the link of that index unless the session also has that link's
// own key (or a control whose id is those digits).
std::map<std::string, std::wstring> SessionLinks(const BuilderSession& session, const std::vector<ButtonLink>& links);

// The skin's own values with the session's overrides: config_url, iframe_url, feed_url, title,
// conn (1-8 only), seg (at least 1), the four switches ("1" is on), run_args and the links.
SkinFields SessionFields(const SkinImport& skin, const BuilderSession& session);

// The version texts as the build takes them from the session: the product name falls back to the
// trimmed title, the description is the title, the original file name is out_name or the file
// name of the output path.
VersionFields SessionVersion(const BuilderSession& session, const std::wstring& outputPath);

// The checks before a build starts, in order: the first refusal, or "" when the build may start.
std::wstring CheckBuildStart(const std::wstring& templatePath, const std::wstring& outputPath, bool sign,
                             const std::wstring& pfxPath);

}  // namespace sv
