// Inputs the pictures service must refuse, checked the same way by the suite
// that runs on every backend (PicturesAgreementTest) and by the Linux one
// (PicturesTest), which adds what only its own libraries are asked about.
// Needs nothing but the service's header, so the Windows build takes it too.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/Pictures.h"

namespace refusals {

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

}  // namespace refusals
