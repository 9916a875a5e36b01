// Any bytes as a PNG file. The sanitizers guard memory; the checks below guard
// the contract: a success yields exactly width * height * 4 bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "png/PngDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> rgba;
  PngState state;
  decodeImage(rgba, state, size ? data : nullptr, size);
  if (state.error == 0 && rgba.size() != size_t{state.width} * state.height * 4) std::abort();
  return 0;
}
