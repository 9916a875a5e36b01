// The container a capture's file name asks for: the same on every platform,
// whichever encoder backend the build has.
#include <cctype>
#include <string>

#include "platform/VideoEncoder.h"

VideoContainer ContainerForPath(const std::string& path) {
  std::string tail = path.size() >= 4 ? path.substr(path.size() - 4) : "";
  for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".mkv" ? VideoContainer::Matroska : VideoContainer::Mp4;
}
