// Any bytes as a JPEG file to the picture loader (libjpeg-turbo underneath,
// with its errors long-jumping back into our code).
#include "PictureFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return FuzzPicture(data, size, "\xFF\xD8\xFF", 3);
}
