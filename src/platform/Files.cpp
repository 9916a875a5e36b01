// The files service's reading, the same on every system: only the path
// spelling (NativeDataPath) belongs to a backend.
#include "platform/Files.h"

#include <new>

std::FILE* OpenDataFile(const char* path, const char* mode) {
  return std::fopen(NativeDataPath(path).c_str(), mode);
}

FileRead ReadDataFile(const char* path, std::vector<unsigned char>& bytes, std::size_t limit) {
  bytes.clear();
  std::FILE* file = OpenDataFile(path, "rb");
  if (!file) return FileRead::CannotOpen;
  FileRead result = FileRead::Ok;
  unsigned char chunk[65536];
  std::size_t got;
  try {
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
      if (got > limit - bytes.size()) {
        result = FileRead::TooLarge;
        break;
      }
      bytes.insert(bytes.end(), chunk, chunk + got);
    }
  } catch (const std::bad_alloc&) {
    result = FileRead::TooLarge;
  }
  if (result == FileRead::TooLarge) {
    bytes.clear();
    bytes.shrink_to_fit();
  } else if (std::ferror(file)) {
    result = FileRead::ReadError;
  }
  std::fclose(file);
  return result;
}
