// System image decoding on files: which of picture and bitmap each kind of
// file leaves, what reaches stdout, and how DrawSystemImage draws each.
#include <gtest/gtest.h>

#include <cstring>

#include "image/SystemImage.h"
#include "platform/PictureFixtures.h"
#include "platform/PicturesTesting.h"

namespace {

using fixtures::Bytes;

struct Outcome {
  int result;
  bool picture;
  bool bitmap;
  std::string output;
};

Outcome Load(const std::string& path) {
  SystemImage image;
  testing::internal::CaptureStdout();
  const int result = LoadSystemImage(path.c_str(), image);
  const std::string output = testing::internal::GetCapturedStdout();
  Outcome outcome{result, image.picture != nullptr, image.bitmap != nullptr, output};
  ReleaseSystemImage(image);
  return outcome;
}

Bytes SmallGif() {
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = 4;
  gif.screenHeight = gif.height = 4;
  gif.globalColours = {{255, 0, 0}, {0, 255, 0}};
  gif.indices = fixtures::Noise(16, 1);
  for (auto& i : gif.indices) i %= 2;
  return fixtures::MakeGif(gif);
}

Bytes SmallJpeg() {
  fixtures::JpegImage jpeg;
  jpeg.width = jpeg.height = 8;
  jpeg.samples = fixtures::Gradient(8, 8, 3);
  return fixtures::MakeJpeg(jpeg);
}

Bytes SmallPng() { return fixtures::MakePng(3, 2, fixtures::Noise(3 * 2 * 4, 9)); }

TEST(LoadSystemImage, EachKindOfFileLeavesWhatItShould) {
  fixtures::TempDir dir;
  Bytes damagedPng = SmallPng();
  damagedPng.resize(damagedPng.size() - 20);  // image data cut short
  const struct {
    const char* name;
    Bytes bytes;  // not written when missing
    bool missing;
    Outcome expected;
  } cases[] = {
      {"missing", {}, true, {0, false, false, ""}},
      {"gif", SmallGif(), false, {1, true, false, ""}},
      {"jpeg", SmallJpeg(), false, {1, true, false, ""}},
      {"png", SmallPng(), false, {1, false, true, ""}},
      {"damaged png", damagedPng, false, {1, false, false, ""}},
      {"empty", {}, false, {1, false, false, ""}},
      {"text", Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'}, false,
       {1, false, false, ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.File(c.name);
    if (!c.missing) {
      ASSERT_TRUE(fixtures::WriteFile(path, c.bytes));
    }
    const Outcome got = Load(path);
    EXPECT_EQ(got.result, c.expected.result);
    EXPECT_EQ(got.picture, c.expected.picture);
    EXPECT_EQ(got.bitmap, c.expected.bitmap);
    EXPECT_EQ(got.output, c.expected.output);
  }
}

TEST(LoadSystemImage, BackslashesAreDirectorySeparators) {
  fixtures::TempDir dir;
  ASSERT_TRUE(fixtures::WriteFile(dir.File("picture.gif"), SmallGif()));
  const Outcome got = Load(dir.Path() + "\\picture.gif");
  EXPECT_EQ(got.result, 1);
  EXPECT_TRUE(got.picture);
}

TEST(LoadSystemImage, DecoderCreationFailureIsTheOneDiagnostic) {
  fixtures::TempDir dir;
  const std::string png = dir.File("a.png");
  const std::string gif = dir.File("a.gif");
  ASSERT_TRUE(fixtures::WriteFile(png, SmallPng()));
  ASSERT_TRUE(fixtures::WriteFile(gif, SmallGif()));
  SetPngBitmapDecoderCreationFails(true);
  const Outcome refused = Load(png);
  const Outcome accepted = Load(gif);  // never asks for the PNG decoder
  const Outcome missing = Load(dir.File("none.png"));
  SetPngBitmapDecoderCreationFails(false);

  EXPECT_FALSE(refused.picture);
  EXPECT_FALSE(refused.bitmap);
  EXPECT_EQ(refused.output, "failed\n" + std::to_string(ENOMEM) + " \n");
  EXPECT_TRUE(accepted.picture);
  EXPECT_EQ(accepted.output, "");
  EXPECT_EQ(missing.result, 0);
  EXPECT_EQ(missing.output, "");
}

TEST(CreateDibFromSource, RefusesEmptyAndShortSources) {
  PremultipliedBitmap source;
  source.width = 2;
  source.height = 1;
  source.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
  PremultipliedBitmap* copy = CreateDibFromSource(source);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->pixels, source.pixels);
  delete copy;

  PremultipliedBitmap zeroWide = source;
  zeroWide.width = 0;
  EXPECT_EQ(CreateDibFromSource(zeroWide), nullptr);
  PremultipliedBitmap zeroHigh = source;
  zeroHigh.height = 0;
  EXPECT_EQ(CreateDibFromSource(zeroHigh), nullptr);
  PremultipliedBitmap shortPixels = source;
  shortPixels.pixels.resize(4);
  EXPECT_EQ(CreateDibFromSource(shortPixels), nullptr);
}

TEST(DrawSystemImage, DrawsThePictureOrElseTheBitmap) {
  fixtures::TempDir dir;
  // A 1x1 opaque PNG of (200, 100, 50, 255) and a 1x1 GIF of (10, 20, 30).
  ASSERT_TRUE(fixtures::WriteFile(dir.File("p.png"), fixtures::MakePng(1, 1, {200, 100, 50, 255})));
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = gif.screenHeight = gif.height = 1;
  gif.globalColours = {{10, 20, 30}, {0, 0, 0}};
  gif.indices = {0};
  ASSERT_TRUE(fixtures::WriteFile(dir.File("g.gif"), fixtures::MakeGif(gif)));

  const struct {
    const char* file;
    uint8_t expected[4];
  } cases[] = {{"p.png", {50, 100, 200, 255}}, {"g.gif", {30, 20, 10, 0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    SystemImage image;
    LoadSystemImage(dir.File(c.file).c_str(), image);
    std::vector<uint8_t> square(4 * 4 * 4, 0x77);
    EXPECT_EQ(DrawSystemImage(image, PixelTarget{square.data(), 4, 4}, TargetRect{0, 0, 4, 4}), 1);
    ReleaseSystemImage(image);
    for (size_t i = 0; i < square.size(); i += 4) {
      ASSERT_EQ(0, std::memcmp(&square[i], c.expected, 4)) << "pixel " << i / 4;
    }
  }
}

}  // namespace
