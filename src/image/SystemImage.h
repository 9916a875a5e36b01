// System image decoding: asks the system's picture loader for a picture and,
// when it refuses the file, the system PNG decoder for a premultiplied
// bitmap; draws the result stretched into a 32-bit pixel buffer.
//
// After LoadSystemImage at most one of picture and bitmap is set:
// - a file that cannot be opened: neither, and nothing is decoded or written;
// - a file the picture loader accepts: picture, no bitmap;
// - a refused file: no picture, and a bitmap when the PNG decoder made one
//   (not for zero or several frames, a size of 0, or damaged data).
// The file's bytes live only during LoadSystemImage.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/Pictures.h"

struct SystemImage {
  Picture* picture = nullptr;
  PremultipliedBitmap* bitmap = nullptr;
  // What the picture loader said of the bytes: the image loader's message for
  // a damaged GIF, JPEG or BMP comes from here.
  PictureStatus pictureStatus = PictureStatus::NotAPicture;
};

// The file's bytes as the decoders read them.
struct ByteStream {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// 1 when the file could be opened (whatever the decoders made of it), else 0.
int LoadSystemImage(const char* path, SystemImage& image);

// 1 when the picture loader accepted the bytes (bitmap left null), else 0
// after trying the PNG decoder for a bitmap (picture left null).
int DecodeSystemImage(const ByteStream& stream, SystemImage& image);

// The frame of a single-frame PNG as a premultiplied bitmap, or null. Writes
// the decoder-creation diagnostic on stdout when no decoder can be had; is
// silent on every other failure.
PremultipliedBitmap* DecodePngPremultiplied(const ByteStream& stream);

// A new bitmap holding the source's pixels, or null when the source is empty
// (width or height 0) or its pixels do not fill it. The caller owns the result.
PremultipliedBitmap* CreateDibFromSource(const PremultipliedBitmap& source);

// Draws the picture, or else the bitmap, stretched over rect. Always 1.
int DrawSystemImage(const SystemImage& image, const PixelTarget& target, const TargetRect& rect);

// Releases the picture and the bitmap and leaves both null.
void ReleaseSystemImage(SystemImage& image);
