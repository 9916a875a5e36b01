// Pictures service, picture loader backend: giflib for GIF (PictureGif.cpp),
// libjpeg-turbo for JPEG (PictureJpeg.cpp), our own reader for uncompressed
// BMP (PictureBmp.cpp), and the nearest-neighbour stretch that draws pictures
// and bitmaps into 32-bit bottom-up pixel buffers (PictureStretch.cpp). This
// file picks the decoder by the file's signature.
//
// A picture is decoded in full when it is loaded and kept as BGRA bytes whose
// alpha is only ever 0 (transparent: the target keeps its pixel) or 255. The
// loader is silent: a refused or damaged file gives a null picture, and the
// caller decides what to say.
//
// Limits: GIF gives its first image only (no animation, no disposal); JPEG
// colour is converted without colour management (no ICC profiles); BMP
// run-length compression is refused. Pictures of more than MaxPicturePixels
// pixels are refused rather than risk an allocation of many gigabytes from a
// forged header.
#include <cstring>
#include <new>

#include "platform/linux/PictureInternal.h"

namespace picture_backend {

namespace {

// 256 Mi pixels (1 GiB of BGRA): far beyond any picture the demo ships, small
// enough that a forged header cannot ask for the whole address space. Fuzzing
// builds take 4 Mi pixels at most: a few header bytes claiming a huge canvas
// would otherwise spend the fuzzer's time filling it, a tenth of a second a
// run, and no parsing code runs only for large pictures.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr uint64_t MaxPicturePixels = uint64_t(1) << 22;
#else
constexpr uint64_t MaxPicturePixels = uint64_t(1) << 28;
#endif

}  // namespace

bool AllocatePicture(Picture& picture, int width, int height) {
  if (width <= 0 || height <= 0) return false;
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  if (pixels > MaxPicturePixels) return false;
  try {
    picture.bgra.assign(pixels * 4, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  picture.width = width;
  picture.height = height;
  return true;
}

}  // namespace picture_backend

using namespace picture_backend;

Picture* LoadPicture(const uint8_t* data, size_t size, PictureStatus* status) {
  PictureStatus ignored;
  PictureStatus& verdict = status ? *status : ignored;
  verdict = PictureStatus::NotAPicture;
  if (!data || size < 6) return nullptr;
  Picture* picture = nullptr;
  bool damaged = false;
  if (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0) {
    picture = LoadGif(data, size);
  } else if (data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
    picture = LoadJpeg(data, size, damaged);
  } else if (data[0] == 'B' && data[1] == 'M') {
    picture = LoadBmp(data, size);
  } else {
    return nullptr;  // PNG and everything else: not ours
  }
  verdict = !picture ? PictureStatus::Unreadable
                     : damaged ? PictureStatus::Damaged : PictureStatus::Whole;
  return picture;
}

int PictureWidth(const Picture* picture) { return picture ? picture->width : 0; }
int PictureHeight(const Picture* picture) { return picture ? picture->height : 0; }

void ReleasePicture(Picture* picture) { delete picture; }
