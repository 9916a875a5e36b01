// Checks of the pictures service run the same way by the suite that runs on
// every backend (PicturesAgreementTest) and by the Linux one (PicturesTest),
// which adds the files only its own libraries make: what must be refused,
// and the PNG bitmap decoder's premultiplied pixels. Needs nothing but the
// service's header, so the Windows build takes it too.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/Pictures.h"

namespace picture_checks {

struct Refused {
  const char* name;
  std::vector<uint8_t> bytes;
  bool pngHeaderReadable = false;  // for the PNG bitmap decoder: a PNG cut short
};

// The picture loader gives no picture, and releasing that is harmless.
inline void ExpectNoPicture(const std::vector<Refused>& cases) {
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    Picture* picture = LoadPicture(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(picture, nullptr);
    ReleasePicture(picture);
  }
}

// The PNG bitmap decoder reads the header only where there is a PNG's, and
// gives no bitmap either way.
inline void ExpectNoPngBitmap(const std::vector<Refused>& cases) {
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.name);
    PngBitmapDecoder* decoder = CreatePngBitmapDecoder();
    ASSERT_NE(decoder, nullptr);
    EXPECT_EQ(InitializePngBitmapDecoder(decoder, c.bytes.data(), c.bytes.size()), c.pngHeaderReadable);
    PremultipliedBitmap bitmap;
    EXPECT_FALSE(DecodePngBitmapFrame(decoder, bitmap));
    EXPECT_TRUE(bitmap.pixels.empty());
    ReleasePngBitmapDecoder(decoder);
  }
}

// The PNG file decodes to one frame of width x height whose pixels are the
// rgba given (alpha 255 throughout when the file has none), premultiplied,
// rounded either way, in BGRA order.
inline void ExpectPremultipliedBitmap(const std::vector<uint8_t>& png, uint32_t width, uint32_t height,
                                      const std::vector<uint8_t>& rgba, bool withAlpha = true) {
  PngBitmapDecoder* decoder = CreatePngBitmapDecoder();
  ASSERT_NE(decoder, nullptr);
  ASSERT_TRUE(InitializePngBitmapDecoder(decoder, png.data(), png.size()));
  EXPECT_EQ(PngBitmapFrameCount(decoder), 1u);
  PremultipliedBitmap bitmap;
  ASSERT_TRUE(DecodePngBitmapFrame(decoder, bitmap));
  ReleasePngBitmapDecoder(decoder);
  ASSERT_EQ(bitmap.width, width);
  ASSERT_EQ(bitmap.height, height);
  ASSERT_EQ(bitmap.pixels.size(), size_t(width) * height * 4);
  for (size_t i = 0; i < size_t(width) * height; ++i) {
    const uint8_t* in = &rgba[i * 4];
    const uint8_t* out = &bitmap.pixels[i * 4];
    const int alpha = withAlpha ? in[3] : 255;
    ASSERT_EQ(out[3], alpha) << "pixel " << i;
    for (int c = 0; c < 3; ++c) {
      ASSERT_NEAR(out[c], in[2 - c] * alpha / 255.0, 0.5 + 1e-9) << "pixel " << i << " channel " << c;
    }
  }
}

}  // namespace picture_checks
