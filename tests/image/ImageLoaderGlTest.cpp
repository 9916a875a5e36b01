// The image loader in an offscreen GL context: each route's texture read back
// with glGetTexImage, the GL state a load leaves, and loads that must upload
// nothing.
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "image/ImageLoader.h"
#include "image/TextureMath.h"
#include "image/TextureTable.h"
#include "platform/PictureFixtures.h"
#include "support/GlTestContext.h"

namespace {

using fixtures::Bytes;
using fixtures::Rgb;

struct Texture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;  // rows as stored: row 0 is the image's bottom

  const uint8_t* At(int x, int row) const { return &rgba[(size_t(row) * width + x) * 4]; }
};

class ImageLoaderGl : public testing::Test {
 protected:
  void SetUp() override {
    if (!testsupport::MakeGlContext(64, 64)) GTEST_SKIP() << "no GL context";
    static bool named = false;
    if (!named) {
      glGenTextures(TextureSlots, TextureTable);
      named = true;
    }
  }

  static Texture ReadTexture(int slot) {
    Texture texture;
    glBindTexture(GL_TEXTURE_2D, TextureTable[slot]);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &texture.width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &texture.height);
    texture.rgba.resize(size_t(texture.width) * texture.height * 4);
    if (!texture.rgba.empty()) {
      glPixelStorei(GL_PACK_ALIGNMENT, 1);
      glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texture.rgba.data());
    }
    return texture;
  }

  static int Edge() {
    GLint limit = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
    return RenderEdge(limit);
  }

  // Loads the bytes from a file of that name into slot; returns stderr.
  std::string Load(const std::string& name, const Bytes& bytes, int slot, bool write = true) {
    const std::string path = dir_.File(name);
    if (write) {
      EXPECT_TRUE(fixtures::WriteFile(path, bytes));
    }
    testing::internal::CaptureStderr();
    LoadImage(path.c_str(), slot);
    return testing::internal::GetCapturedStderr();
  }

  fixtures::TempDir dir_;
};

TEST_F(ImageLoaderGl, GifBecomesAKeyedUprightSquare) {
  // 4x2: top row black, (200,0,0), (0,0,1), (0,1,0); bottom row white,
  // transparent, (10,20,30), pure red.
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = 4;
  gif.screenHeight = gif.height = 2;
  gif.globalColours = {{0, 0, 0},       {200, 0, 0},  {0, 0, 1},   {0, 1, 0},
                       {255, 255, 255}, {90, 90, 90}, {10, 20, 30}, {255, 0, 0}};
  gif.indices = {0, 1, 2, 3, 4, 5, 6, 7};
  gif.transparentIndex = 5;
  const std::string errors = Load("k.gif", fixtures::MakeGif(gif), 0);
  EXPECT_EQ(errors, "");

  const Texture texture = ReadTexture(0);
  const int edge = Edge();
  ASSERT_EQ(texture.width, edge);
  ASSERT_EQ(texture.height, edge);
  const uint8_t expected[2][4][4] = {
      {{0, 0, 0, 0}, {200, 0, 0, 0}, {0, 0, 1, 255}, {0, 1, 0, 255}},
      {{255, 255, 255, 255}, {0, 0, 0, 0}, {10, 20, 30, 255}, {255, 0, 0, 0}},
  };
  for (int sy = 0; sy < 2; ++sy) {
    for (int sx = 0; sx < 4; ++sx) {
      // Corners and centre of the block the source pixel stretches over; the
      // picture's top row is the texture's last rows.
      const int x0 = sx * edge / 4, x1 = (sx + 1) * edge / 4 - 1;
      const int top = edge - 1 - sy * edge / 2, bottom = edge - (sy + 1) * edge / 2;
      for (const auto& [x, row] : {std::pair{x0, top}, std::pair{x1, bottom},
                                   std::pair{(x0 + x1) / 2, (top + bottom) / 2}}) {
        SCOPED_TRACE(testing::Message() << "source (" << sx << "," << sy << ") texel (" << x
                                        << "," << row << ")");
        EXPECT_EQ(0, std::memcmp(texture.At(x, row), expected[sy][sx], 4));
      }
    }
  }
}

TEST_F(ImageLoaderGl, LoadLeavesTheStateBothRoutesShare) {
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = gif.screenHeight = gif.height = 2;
  gif.globalColours = {{9, 9, 9}, {90, 90, 90}};
  gif.indices = {0, 1, 1, 0};
  const Bytes png = fixtures::MakePng(5, 3, fixtures::Noise(5 * 3 * 4, 4));
  const struct {
    const char* name;
    Bytes bytes;
    int slot;
  } cases[] = {{"s.gif", fixtures::MakeGif(gif), 1}, {"s.png", png, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    Load(c.name, c.bytes, c.slot);
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(GLuint(bound), TextureTable[c.slot]);
    GLint value = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &value);
    EXPECT_EQ(value, GL_LINEAR);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &value);
    EXPECT_EQ(value, GL_LINEAR);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &value);
    EXPECT_EQ(value, GL_REPEAT);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, &value);
    EXPECT_EQ(value, GL_REPEAT);
    GLint mipWidth = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &mipWidth);
    EXPECT_EQ(mipWidth, 0) << "no mipmap levels";
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
  }
}

TEST_F(ImageLoaderGl, JpegFillsTheSquareStretchedAndUpright) {
  // 32x16, twice as wide as high: left half blue-ish, right half yellow-ish,
  // a green band over the top quarter. Flat areas survive JPEG closely.
  fixtures::JpegImage jpeg;
  jpeg.width = 32;
  jpeg.height = 16;
  jpeg.quality = 95;
  jpeg.samples.resize(32 * 16 * 3);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) {
      const Rgb c = y < 4 ? Rgb{40, 200, 40} : x < 16 ? Rgb{30, 60, 220} : Rgb{230, 220, 30};
      uint8_t* p = &jpeg.samples[(y * 32 + x) * 3];
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
    }
  }
  Load("j.jpg", fixtures::MakeJpeg(jpeg), 1);
  const Texture texture = ReadTexture(1);
  const int edge = Edge();
  ASSERT_EQ(texture.width, edge);
  ASSERT_EQ(texture.height, edge);
  const struct {
    const char* where;
    int x, row;
    Rgb colour;
  } probes[] = {
      {"top band", edge / 2, edge - 1 - edge / 16, {40, 200, 40}},
      {"bottom left", edge / 4, edge / 4, {30, 60, 220}},
      {"bottom right", edge * 3 / 4, edge / 4, {230, 220, 30}},
      {"far right edge", edge - 1, edge / 2, {230, 220, 30}},
      {"bottom left corner", 0, 0, {30, 60, 220}},
  };
  for (const auto& p : probes) {
    SCOPED_TRACE(p.where);
    const uint8_t* texel = texture.At(p.x, p.row);
    EXPECT_NEAR(texel[0], p.colour.r, 12);
    EXPECT_NEAR(texel[1], p.colour.g, 12);
    EXPECT_NEAR(texel[2], p.colour.b, 12);
    EXPECT_EQ(texel[3], 255);
  }
}

TEST_F(ImageLoaderGl, PngIsPaddedToPowersOfTwoWithItsAlpha) {
  const struct {
    int w, h, W2, H2;
  } cases[] = {{300, 200, 512, 256}, {256, 256, 256, 256}, {1, 1, 1, 1}, {5, 3, 8, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    std::vector<uint8_t> rgba = fixtures::Noise(size_t(c.w) * c.h * 4, c.w * 7 + c.h);
    rgba[3] = 0;
    if (rgba.size() > 8) rgba[7] = 128;  // partial alpha stays as it is
    EXPECT_EQ(Load("p.png", fixtures::MakePng(c.w, c.h, rgba), 3), "");
    const Texture texture = ReadTexture(3);
    ASSERT_EQ(texture.width, c.W2);
    ASSERT_EQ(texture.height, c.H2);
    int failures = 0;
    for (int k = 0; k < c.H2 && failures < 5; ++k) {
      for (int j = 0; j < c.W2 && failures < 5; ++j) {
        const uint8_t* source = &rgba[(size_t(k * c.h / c.H2) * c.w + j * c.w / c.W2) * 4];
        if (std::memcmp(texture.At(j, c.H2 - 1 - k), source, 4) != 0) {
          ++failures;
          ADD_FAILURE() << "texel (" << j << ", row from top " << k << ")";
        }
      }
    }
  }
}

TEST_F(ImageLoaderGl, MissingOrDamagedFilesSayWhatBecomesOfThem) {
  auto half = [](Bytes b) {
    b.resize(b.size() / 2);
    return b;
  };
  Bytes badHeader = fixtures::MakePng(4, 4, fixtures::Noise(4 * 4 * 4, 6));
  badHeader[12] = 'X';  // "IHDR" no longer
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = gif.screenHeight = gif.height = 32;
  gif.globalColours = {{200, 10, 10}, {10, 200, 10}, {10, 10, 200}, {90, 90, 90}};
  gif.indices = fixtures::Noise(32 * 32, 7);
  for (uint8_t& index : gif.indices) index &= 3;
  fixtures::JpegImage jpeg;
  jpeg.width = jpeg.height = 64;
  jpeg.components = 3;
  jpeg.stored = JCS_YCbCr;
  jpeg.samples = fixtures::Gradient(64, 64, 3);
  const Bytes baseline = fixtures::MakeJpeg(jpeg);
  jpeg.progressive = true;
  Bytes progressive = fixtures::MakeJpeg(jpeg);
  progressive.resize(progressive.size() * 9 / 10);  // into its refinement scans
  const struct {
    const char* name;
    Bytes bytes;
    bool write;
    int slot;
    const char* says;
    bool drawn;
  } cases[] = {{"missing.png", {}, false, 10, "missing", false},
               {"empty.png", {}, true, 11, "empty", false},
               {"half.png", half(fixtures::MakePng(16, 16, fixtures::Noise(16 * 16 * 4, 5))), true, 12,
                "PNG error", false},
               {"badheader.png", badHeader, true, 13, "PNG error", false},
               {"text.gif", Bytes{'G', 'I', 'F', '?'}, true, 14, "PNG error", false},
               {"half.gif", half(fixtures::MakeGif(gif)), true, 15, "damaged", false},
               {"half.jpg", half(baseline), true, 16, "damaged", false},
               {"progressive.jpg", progressive, true, 17, "drawn from what it holds", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string errors = Load(c.name, c.bytes, c.slot, c.write);
    const Texture texture = ReadTexture(c.slot);
    EXPECT_EQ(texture.width != 0, c.drawn);
    EXPECT_EQ(texture.height != 0, c.drawn);
    // One line, naming the file and saying what became of it.
    EXPECT_NE(errors.find(c.name), std::string::npos) << errors;
    EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
  }
}

TEST_F(ImageLoaderGl, SlotsOutsideTheTableAreRefused) {
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = gif.screenHeight = gif.height = 1;
  gif.globalColours = {{1, 2, 3}, {0, 0, 0}};
  gif.indices = {0};
  for (const int slot : {-1, TextureSlots}) {
    const std::string errors = Load("x.gif", fixtures::MakeGif(gif), slot);
    EXPECT_NE(errors.find("slot"), std::string::npos) << errors;
  }
}

}  // namespace

namespace {

// A square given back for reuse still holds the last image's pixels: what the
// next picture leaves untouched (its transparent pixels) must come out as a
// fresh square's zeroes. A square of the wrong size is let go; one that the
// PNG route does not need stays with the caller for the next picture.
TEST(PrepareImageReuse, GivesWhatAFreshSquareGives) {
  fixtures::TempDir dir;
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = 2;
  gif.screenHeight = gif.height = 2;
  gif.globalColours = {{0, 0, 0}, {255, 255, 255}, {90, 90, 90}, {10, 20, 30}};
  gif.indices = {1, 2, 2, 3};
  gif.transparentIndex = 2;
  const std::string gifPath = dir.File("t.gif");
  ASSERT_TRUE(fixtures::WriteFile(gifPath, fixtures::MakeGif(gif)));
  const std::string pngPath = dir.File("t.png");
  ASSERT_TRUE(fixtures::WriteFile(pngPath, fixtures::MakePng(3, 1, fixtures::Noise(3 * 4, 7))));
  constexpr int edge = 64;
  const PreparedImage fresh = PrepareImage(gifPath.c_str(), 0, edge);
  ASSERT_FALSE(fresh.pixels.empty());
  const size_t bytes = size_t(edge) * edge * 4;

  struct Case {
    const std::string& path;
    int squareEdge;
    bool drawnIntoSquare;
    bool squareKept;
  };
  for (const Case& c : {Case{gifPath, edge, true, false}, Case{gifPath, edge / 2, false, false},
                        Case{pngPath, edge, false, true}}) {
    SCOPED_TRACE(testing::Message() << c.path << " with a square of edge " << c.squareEdge);
    TexturePixels square;
    square.data.reset(static_cast<uint8_t*>(std::malloc(size_t(c.squareEdge) * c.squareEdge * 4)));
    std::memset(square.data.get(), 0xAB, size_t(c.squareEdge) * c.squareEdge * 4);
    square.width = square.height = uint32_t(c.squareEdge);
    const uint8_t* const squareMemory = square.data.get();
    const PreparedImage again = PrepareImage(c.path.c_str(), 0, edge, &square);
    ASSERT_FALSE(again.pixels.empty());
    EXPECT_EQ(again.pixels.data.get() == squareMemory, c.drawnIntoSquare);
    EXPECT_EQ(square.data.get() == squareMemory, c.squareKept);
    if (c.path == gifPath) {
      ASSERT_EQ(again.pixels.width, fresh.pixels.width);
      ASSERT_EQ(again.pixels.height, fresh.pixels.height);
      EXPECT_EQ(again.pixels.internalFormat, fresh.pixels.internalFormat);
      EXPECT_EQ(0, std::memcmp(again.pixels.data.get(), fresh.pixels.data.get(), bytes));
    }
  }
}

}  // namespace
