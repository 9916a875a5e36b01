// System image decoding over the pictures service: the file's bytes are read
// whole, offered to the picture loader, and on its refusal to the PNG bitmap
// decoder; the bytes are freed before LoadSystemImage returns, since neither
// the picture nor the bitmap refers to them.
#include "image/SystemImage.h"

#include <cstdio>
#include <new>
#include <vector>

#include "platform/Files.h"

int LoadSystemImage(const char* path, SystemImage& image) {
  // A short read leaves only what was read: the decoders never see bytes the
  // file did not hold. The bytes live only for this call.
  std::vector<unsigned char> bytes;
  if (ReadDataFile(path, bytes) == FileRead::CannotOpen) return 0;
  DecodeSystemImage(ByteStream{bytes.data(), bytes.size()}, image);
  return 1;
}

int DecodeSystemImage(const ByteStream& stream, SystemImage& image) {
  image.picture = LoadPicture(stream.data, stream.size, &image.pictureStatus);
  if (image.picture) {
    image.bitmap = nullptr;
    return 1;
  }
  // The PNG decoder reads the bytes from their start: what the picture loader
  // looked at before refusing them is of no consequence.
  PremultipliedBitmap* source = DecodePngPremultiplied(stream);
  image.bitmap = source ? CreateDibFromSource(*source) : nullptr;
  delete source;
  return 0;
}

PremultipliedBitmap* DecodePngPremultiplied(const ByteStream& stream) {
  PngBitmapDecoder* decoder = CreatePngBitmapDecoder();
  if (!decoder) {
    WriteDecoderCreationFailure();
    return nullptr;
  }
  PremultipliedBitmap* converted = nullptr;
  if (InitializePngBitmapDecoder(decoder, stream.data, stream.size) &&
      PngBitmapFrameCount(decoder) == 1) {
    converted = new (std::nothrow) PremultipliedBitmap;
    if (converted && !DecodePngBitmapFrame(decoder, *converted)) {
      delete converted;
      converted = nullptr;
    }
  }
  ReleasePngBitmapDecoder(decoder);
  return converted;
}

PremultipliedBitmap* CreateDibFromSource(const PremultipliedBitmap& source) {
  if (source.width == 0 || source.height == 0) return nullptr;
  const uint64_t bytes = uint64_t(source.width) * source.height * 4;
  if (source.pixels.size() != bytes) return nullptr;
  try {
    return new PremultipliedBitmap(source);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

int DrawSystemImage(const SystemImage& image, const PixelTarget& target, const TargetRect& rect) {
  if (image.picture) {
    RenderPicture(image.picture, target, rect);
  } else if (image.bitmap) {
    StretchBitmap(*image.bitmap, target, rect);
  }
  return 1;
}

void ReleaseSystemImage(SystemImage& image) {
  ReleasePicture(image.picture);
  delete image.bitmap;
  image.picture = nullptr;
  image.bitmap = nullptr;
}
