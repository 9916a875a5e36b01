#include "platform/CommandLine.h"

Utf8Arguments::Utf8Arguments(int argc, char** argv) : strings_(CommandLineArguments(argc, argv)) {
  pointers_.reserve(strings_.size() + 1);
  for (std::string& s : strings_) pointers_.push_back(s.data());
  pointers_.push_back(nullptr);
}
