#pragma once
// The command line of SarvikPublish: build, verify and lz, each with --help. Exit codes: 0 done,
// 1 failed, 2 bad arguments.
#include <ostream>
#include <string>
#include <vector>

namespace sv {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// `args` are the arguments after the program name, in UTF-8.
int RunPublishTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   bool showProgress);

}  // namespace sv
