// demotool png FILE [-o OUT]: a PNG file through the demo's decoder.
#include <cstdio>
#include <vector>

#include "Commands.h"
#include "FileBytes.h"
#include "png/PngDecoder.h"

int RunPngCommand(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  if (!ParseFileAndOutput(argc, argv, "png", input, output)) return 2;

  std::vector<unsigned char> bytes;
  if (!ReadInputFile("png", input, bytes)) return 1;
  std::vector<unsigned char> rgba;
  PngState state;
  // An empty file goes in as the image loader hands it over: no pointer.
  decodeImage(rgba, state, bytes.empty() ? nullptr : bytes.data(), bytes.size());
  if (state.error) {
    // Width and height mean something once the header type has been seen.
    const int e = state.error;
    if (e == PngCode(PngError::NoInput) || e == PngCode(PngError::TooShort) ||
        e == PngCode(PngError::NoSignature) || e == PngCode(PngError::NoHeader))
      std::printf("error %d\n", e);
    else
      std::printf("error %d %u %u\n", e, state.width, state.height);
    return 1;
  }
  std::printf("ok %u %u\n", state.width, state.height);
  if (output && !WriteOutputFile("png", output, rgba)) return 1;
  return 0;
}
