// SarvikPublish on Linux: arguments and file names are UTF-8 already.
#include <iostream>

#include "publisher/progress_line.h"
#include "publisher/publish_tool.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return sv::RunPublishTool(args, std::cout, std::cerr, sv::StandardErrorIsTerminal());
}
