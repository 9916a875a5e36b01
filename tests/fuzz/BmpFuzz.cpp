// Any bytes as a BMP file to the picture loader's own BMP reader.
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzPicture(data, size, "BM", 2);
}
