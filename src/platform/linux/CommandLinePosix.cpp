// Command line on POSIX: the arguments are bytes, taken as they come (UTF-8
// in any locale a person would use today); a terminal shows what it is sent.
#include "platform/CommandLine.h"

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 0; i < argc && argv && argv[i]; ++i) arguments.emplace_back(argv[i]);
  return arguments;
}

void UseUtf8Console() {}
