// demotool inflate FILE [-o OUT]: one zlib stream through the demo's inflater.
#include <cstdio>
#include <cstring>
#include <vector>

#include "Commands.h"
#include "FileBytes.h"
#include "png/Inflate.h"

int RunInflateCommand(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  if (!ParseFileAndOutput(argc, argv, "inflate", input, output)) return 2;

  std::vector<unsigned char> bytes;
  if (!ReadInputFile(input, bytes)) return 1;
  std::vector<unsigned char> out;
  const int error = decompressZlib(out, bytes.data(), bytes.data() + bytes.size());
  if (error) {
    std::printf("error %d\n", error);
    return 1;
  }
  std::printf("ok %zu\n", out.size());
  if (output && !WriteOutputFile(output, out)) return 1;
  return 0;
}
