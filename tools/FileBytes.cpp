#include <cerrno>
#include <cstdio>
#include <cstring>

#include "FileBytes.h"
#include "platform/Files.h"

bool ParseFileAndOutput(int argc, char** argv, const char* command, const char*& input,
                        const char*& output) {
  input = output = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-o")) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "demotool: %s: -o needs a file name\n", command);
        return false;
      }
      output = argv[++i];
    } else if (!input) {
      input = argv[i];
    } else {
      std::fprintf(stderr, "demotool: %s: unexpected argument '%s'\n", command, argv[i]);
      return false;
    }
  }
  if (!input) {
    std::fprintf(stderr, "demotool: %s: expected FILE [-o OUT]\n", command);
    return false;
  }
  return true;
}

bool ReadInputFile(const char* command, const char* path, std::vector<unsigned char>& bytes) {
  FILE* f = OpenFile(path, "rb");
  if (!f) {
    std::fprintf(stderr, "demotool: %s: cannot open '%s': %s\n", command, path, std::strerror(errno));
    return false;
  }
  bytes.clear();
  unsigned char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  const bool failed = std::ferror(f);
  std::fclose(f);
  if (failed) std::fprintf(stderr, "demotool: %s: cannot read '%s'\n", command, path);
  return !failed;
}

bool WriteOutputFile(const char* command, const char* path, const std::vector<unsigned char>& bytes) {
  FILE* f = OpenFile(path, "wb");
  if (!f) {
    std::fprintf(stderr, "demotool: %s: cannot create '%s': %s\n", command, path, std::strerror(errno));
    return false;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) std::fprintf(stderr, "demotool: %s: cannot write '%s'\n", command, path);
  return written && closed;
}
