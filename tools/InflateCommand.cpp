// demotool inflate FILE [-o OUT] [--limit BYTES]: one zlib stream through the
// demo's inflater.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Commands.h"
#include "FileBytes.h"
#include "png/Inflate.h"

namespace {

const char* const Usage =
    "usage: demotool inflate FILE [-o OUT] [--limit BYTES]\n"
    "\n"
    "Decompresses one zlib stream with the demo's inflater and prints 'ok SIZE',\n"
    "or 'error CODE' with exit status 1 when the stream does not decode.\n"
    "\n"
    "  -o OUT          write the decompressed bytes to OUT\n"
    "  --limit BYTES   refuse output larger than BYTES (suffix K, M or G for\n"
    "                  KiB, MiB, GiB; default 1G), so that a small damaged or\n"
    "                  hostile stream cannot exhaust memory: code 65\n"
    "  --help          this text\n";

constexpr size_t DefaultLimit = size_t{1} << 30;

// BYTES with an optional K, M or G suffix; false on anything else.
bool ParseLimit(const char* text, size_t& limit) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* rest = nullptr;
  const unsigned long long value = std::strtoull(text, &rest, 10);
  if (errno == ERANGE) return false;
  unsigned shift = 0;
  if (*rest == 'K' || *rest == 'k') shift = 10;
  if (*rest == 'M' || *rest == 'm') shift = 20;
  if (*rest == 'G' || *rest == 'g') shift = 30;
  if (shift) ++rest;
  if (*rest != '\0') return false;
  if (value > (SIZE_MAX >> shift)) return false;
  limit = static_cast<size_t>(value) << shift;
  return true;
}

}  // namespace

int RunInflateCommand(int argc, char** argv) {
  // --limit and --help are taken out here; the rest is FILE [-o OUT].
  size_t limit = DefaultLimit;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
      std::fputs(Usage, stdout);
      return 0;
    }
    if (!std::strcmp(argv[i], "--limit")) {
      if (i + 1 >= argc || !ParseLimit(argv[i + 1], limit)) {
        std::fprintf(stderr, "demotool: inflate: --limit needs a byte count such as 4096, 64M or 2G\n");
        return 2;
      }
      ++i;
      continue;
    }
    rest.push_back(argv[i]);
  }
  const char* input = nullptr;
  const char* output = nullptr;
  if (!ParseFileAndOutput(static_cast<int>(rest.size()), rest.data(), "inflate", input, output)) return 2;

  std::vector<unsigned char> bytes;
  if (!ReadInputFile("inflate", input, bytes)) return 1;
  std::vector<unsigned char> out;
  const int error = decompressZlib(out, bytes.data(), bytes.data() + bytes.size(), limit);
  if (error) {
    std::printf("error %d\n", error);
    if (error == static_cast<int>(InflateError::OutputLimit))
      std::fprintf(stderr, "demotool: inflate: the output would exceed the limit of %zu bytes; raise it with --limit\n",
                   limit);
    return 1;
  }
  std::printf("ok %zu\n", out.size());
  if (output && !WriteOutputFile("inflate", output, out)) return 1;
  return 0;
}
