// Files service on POSIX stdio.
#include "platform/Files.h"

std::string NativeDataPath(const char* path) {
  std::string native(path ? path : "");
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

std::FILE* OpenDataFile(const char* path, const char* mode) {
  return std::fopen(NativeDataPath(path).c_str(), mode);
}
