// The Windows picture backend when GDI cannot give it memory to draw in: the
// target keeps what it held and one line on stderr names the failing call,
// instead of a texture uploaded fully transparent without a word.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "platform/Pictures.h"
#include "platform/windows/PictureOleTesting.h"

namespace {

std::vector<std::string> lines;
void Collect(Subsystem, const std::string& text) { lines.push_back(text); }

// A 2x2 24-bit BMP, all one colour.
std::vector<uint8_t> SmallBmp() {
  std::vector<uint8_t> bmp = {'B', 'M', 70, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0,
                              2, 0, 0, 0, 1, 0, 24, 0};
  bmp.resize(54, 0);
  for (int row = 0; row < 2; ++row) bmp.insert(bmp.end(), {10, 20, 30, 10, 20, 30, 0, 0});
  return bmp;
}

TEST(PictureDrawing, AFailedDrawingSurfaceIsNamedAndLeavesTheTarget) {
  const std::vector<uint8_t> file = SmallBmp();
  Picture* picture = LoadPicture(file.data(), file.size(), nullptr);
  ASSERT_NE(picture, nullptr);
  PremultipliedBitmap bitmap;
  bitmap.width = bitmap.height = 2;
  bitmap.pixels.assign(16, 0xFF);

  struct Case {
    const char* name;
    bool fails;
    bool picture;  // RenderPicture, else StretchBitmap
  } cases[] = {
      {"picture drawn", false, true}, {"picture not drawn", true, true},
      {"bitmap drawn", false, false}, {"bitmap not drawn", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> pixels(4 * 4 * 4, 0x77);
    const std::vector<uint8_t> before = pixels;
    lines.clear();
    ObserveMessages(Collect);
    SetPictureDrawingFails(c.fails);
    const PixelTarget target{pixels.data(), 4, 4};
    const TargetRect rect{0, 0, 4, 4};
    if (c.picture) {
      RenderPicture(picture, target, rect);
    } else {
      StretchBitmap(bitmap, target, rect);
    }
    SetPictureDrawingFails(false);
    ObserveMessages(nullptr);
    if (c.fails) {
      EXPECT_EQ(pixels, before);
      ASSERT_EQ(lines.size(), 1u);
      EXPECT_NE(lines[0].find("CreateDIBSection failed for a 4x4 drawing"), std::string::npos) << lines[0];
    } else {
      EXPECT_NE(pixels, before);
      EXPECT_TRUE(lines.empty()) << lines.front();
    }
  }
  ReleasePicture(picture);
}

}  // namespace
