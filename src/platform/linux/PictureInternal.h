// Pictures service, picture loader backend: what the decoders of each format
// (PictureGif.cpp, PictureJpeg.cpp, PictureBmp.cpp), the stretch
// (PictureStretch.cpp) and the entry points (PictureLoader.cpp) share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Pictures.h"

struct Picture {
  int width = 0;
  int height = 0;
  bool hasTransparency = false;
  std::vector<uint8_t> bgra;  // rows top to bottom, alpha 0 or 255
};

namespace picture_backend {

// Sizes picture to width x height, every pixel transparent black. False for an
// empty or oversized picture, or when memory runs out.
bool AllocatePicture(Picture& picture, int width, int height);

// Each decoder takes a whole file whose signature is its format's and returns
// a new picture, or null when the bytes give none. Only a JPEG can give a
// picture of a damaged file (see PictureJpeg.cpp); damaged then says so.
Picture* LoadGif(const uint8_t* data, size_t size);
Picture* LoadJpeg(const uint8_t* data, size_t size, bool& damaged);
Picture* LoadBmp(const uint8_t* data, size_t size);

}  // namespace picture_backend
