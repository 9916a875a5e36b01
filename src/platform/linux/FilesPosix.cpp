// Files service on POSIX: the demo's backslashes become slashes; names are
// bytes, which the programs hold as UTF-8, so they pass through unchanged.
#include "platform/Files.h"

std::string NativeDataPath(const char* path) {
  std::string native(path ? path : "");
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::filesystem::path FileSystemPath(const std::string& path) { return std::filesystem::path(path); }

std::string PathText(const std::filesystem::path& path) { return path.string(); }
