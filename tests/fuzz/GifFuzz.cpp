// Any bytes as a GIF file to the picture loader (giflib underneath).
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Both versions are read; keep whichever the input names.
  const bool old = size >= 6 && std::memcmp(data, "GIF87a", 6) == 0;
  return FuzzPicture(data, size, old ? "GIF87a" : "GIF89a", 6);
}
