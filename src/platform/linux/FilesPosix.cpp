// Files service on POSIX: the demo's backslashes become slashes.
#include "platform/Files.h"

std::string NativeDataPath(const char* path) {
  std::string native(path ? path : "");
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}
