// What every pictures backend must give alike, on files this test writes
// byte by byte (no image library needed, so the Windows build runs it too):
// BMP and GIF colours placed exactly, transparent GIF pixels left untouched,
// PNG refused by the picture loader and made premultiplied by the bitmap
// decoder, the stretch upright, filled and clipped. Built into the Linux and
// the Windows suites, so that both backends answer to the same expectations.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/PictureChecks.h"
#include "platform/Pictures.h"

namespace {

using Bytes = std::vector<uint8_t>;
struct Rgb {
  uint8_t r, g, b;
};

void Put16(Bytes& out, uint32_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Put32(Bytes& out, uint32_t v) { out.insert(out.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }
void Put32Be(Bytes& out, uint32_t v) { out.insert(out.end(), {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}); }

// ---------------------------------------------------------------------------
// Writers

// An uncompressed BMP: 24 bits bottom-up, 8 bits through a palette, or 32
// bits top-down with a fourth byte that is no alpha. Pixels as palette
// indices into colours (rows top to bottom).
enum class BmpKind { Bits24, Palette8, TopDown32 };

Bytes MakeBmp(BmpKind kind, int width, int height, const std::vector<Rgb>& colours, const Bytes& indices) {
  const int bits = kind == BmpKind::Bits24 ? 24 : kind == BmpKind::Palette8 ? 8 : 32;
  const uint32_t stride = (uint32_t(width) * bits + 31) / 32 * 4;
  const uint32_t paletteBytes = kind == BmpKind::Palette8 ? 256 * 4 : 0;
  const uint32_t offset = 14 + 40 + paletteBytes;
  Bytes out = {'B', 'M'};
  Put32(out, offset + stride * height);
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, uint32_t(width));
  Put32(out, kind == BmpKind::TopDown32 ? uint32_t(-height) : uint32_t(height));
  Put16(out, 1);
  Put16(out, bits);
  for (int i = 0; i < 6; ++i) Put32(out, 0);  // BI_RGB, sizes, resolutions, colour counts
  if (kind == BmpKind::Palette8) {
    for (int i = 0; i < 256; ++i) {
      const Rgb c = i < int(colours.size()) ? colours[i] : Rgb{0, 0, 0};
      out.insert(out.end(), {c.b, c.g, c.r, 0});
    }
  }
  for (int row = 0; row < height; ++row) {
    const int y = kind == BmpKind::TopDown32 ? row : height - 1 - row;
    Bytes line;
    for (int x = 0; x < width; ++x) {
      const uint8_t index = indices[size_t(y) * width + x];
      const Rgb c = colours[index];
      if (kind == BmpKind::Palette8) {
        line.push_back(index);
      } else {
        line.insert(line.end(), {c.b, c.g, c.r});
        if (kind == BmpKind::TopDown32) line.push_back(uint8_t(0x5A + x));  // not alpha
      }
    }
    line.resize(stride, 0);
    out.insert(out.end(), line.begin(), line.end());
  }
  return out;
}

struct GifLayout {
  int screenWidth = 0, screenHeight = 0;
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<Rgb> colours;  // the global table, up to 256
  Bytes indices;             // width * height, rows top to bottom
  int transparentIndex = -1;
};

// A GIF whose LZW data holds every pixel as a literal code: with 8-bit codes
// the code width stays 9 as long as a clear code comes every 254 literals.
Bytes MakeGif(const GifLayout& g) {
  Bytes out = {'G', 'I', 'F', '8', '9', 'a'};
  Put16(out, g.screenWidth);
  Put16(out, g.screenHeight);
  int tableBits = 0;
  while ((2 << tableBits) < int(g.colours.size())) ++tableBits;
  out.insert(out.end(), {uint8_t(0xF0 | tableBits), 0, 0});
  for (int i = 0; i < (2 << tableBits); ++i) {
    const Rgb c = i < int(g.colours.size()) ? g.colours[i] : Rgb{0, 0, 0};
    out.insert(out.end(), {c.r, c.g, c.b});
  }
  if (g.transparentIndex >= 0) {
    out.insert(out.end(), {0x21, 0xF9, 4, 1, 0, 0, uint8_t(g.transparentIndex), 0});
  }
  out.push_back(0x2C);
  Put16(out, g.left);
  Put16(out, g.top);
  Put16(out, g.width);
  Put16(out, g.height);
  out.push_back(0);  // no local table, not interlaced

  constexpr uint32_t Clear = 256, End = 257;
  Bytes data;
  uint32_t bitBuffer = 0;
  int bitCount = 0;
  auto code = [&](uint32_t c) {
    bitBuffer |= c << bitCount;
    bitCount += 9;
    while (bitCount >= 8) {
      data.push_back(uint8_t(bitBuffer));
      bitBuffer >>= 8;
      bitCount -= 8;
    }
  };
  for (size_t i = 0; i < g.indices.size(); ++i) {
    if (i % 254 == 0) code(Clear);
    code(g.indices[i]);
  }
  code(End);
  if (bitCount > 0) data.push_back(uint8_t(bitBuffer));
  out.push_back(8);  // minimum code size
  for (size_t at = 0; at < data.size(); at += 255) {
    const size_t n = std::min<size_t>(255, data.size() - at);
    out.push_back(uint8_t(n));
    out.insert(out.end(), data.begin() + at, data.begin() + at + n);
  }
  out.push_back(0);
  out.push_back(0x3B);
  return out;
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = crc & 1 ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
  }
  return ~crc;
}

// An 8-bit RGBA PNG with its image data in stored (uncompressed) deflate
// blocks; rows top to bottom.
Bytes MakePng(int width, int height, const Bytes& rgba) {
  Bytes raw;
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    raw.insert(raw.end(), rgba.begin() + size_t(y) * width * 4, rgba.begin() + size_t(y + 1) * width * 4);
  }
  Bytes zlib = {0x78, 0x01};
  for (size_t at = 0; at < raw.size() || at == 0; at += 65535) {
    const size_t n = std::min<size_t>(65535, raw.size() - at);
    zlib.push_back(at + n == raw.size() ? 1 : 0);
    Put16(zlib, uint32_t(n));
    Put16(zlib, uint32_t(~n & 0xFFFF));
    zlib.insert(zlib.end(), raw.begin() + at, raw.begin() + at + n);
    if (raw.empty()) break;
  }
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) a = (a + byte) % 65521, b = (b + a) % 65521;
  Put32Be(zlib, b << 16 | a);

  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  auto chunk = [&](const char* type, const Bytes& body) {
    Put32Be(out, uint32_t(body.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    Put32Be(out, Crc32(out.data() + start, out.size() - start));
  };
  Bytes header;
  Put32Be(header, width);
  Put32Be(header, height);
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits, RGBA, deflate, no filter method, no interlace
  chunk("IHDR", header);
  chunk("IDAT", zlib);
  chunk("IEND", {});
  return out;
}

// ---------------------------------------------------------------------------
// Drawing helpers

constexpr std::array<uint8_t, 4> Sentinel = {0x11, 0x22, 0x33, 0x44};

struct Target {
  int width, height;
  Bytes pixels;
  Target(int w, int h) : width(w), height(h), pixels(size_t(w) * h * 4) {
    for (size_t i = 0; i < pixels.size(); i += 4) std::memcpy(&pixels[i], Sentinel.data(), 4);
  }
  PixelTarget View() { return PixelTarget{pixels.data(), width, height}; }
  // Pixel (x, y), y from the top of the bottom-up buffer, as B, G, R, X.
  std::array<uint8_t, 4> At(int x, int y) const {
    std::array<uint8_t, 4> p;
    std::memcpy(p.data(), &pixels[(size_t(height - 1 - y) * width + x) * 4], 4);
    return p;
  }
};

std::array<uint8_t, 4> Drawn(Rgb c) { return {c.b, c.g, c.r, 0}; }

std::vector<Rgb> TestColours() {
  return {{200, 30, 40}, {10, 220, 30}, {20, 40, 230}, {250, 250, 250}, {0, 0, 0}, {128, 64, 32}, {1, 2, 3}};
}

// Draws the file at its own size and at twice its size (nearest neighbour
// doubles every pixel exactly) and compares with the expected colours, where
// expected[i] < 0 means transparent: there the target keeps what it held,
// which differs from pixel to pixel, so a row drawn by repeating the one
// above it must still keep its own.
void ExpectPicture(const Bytes& file, int width, int height, const std::vector<Rgb>& colours,
                   const std::vector<int>& expected) {
  Picture* picture = LoadPicture(file.data(), file.size());
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(PictureWidth(picture), width);
  EXPECT_EQ(PictureHeight(picture), height);
  for (const int scale : {1, 2}) {
    SCOPED_TRACE(scale == 1 ? "own size" : "twice the size");
    Target target(width * scale, height * scale);
    for (int y = 0; y < target.height; ++y) {
      for (int x = 0; x < target.width; ++x) {
        const uint8_t held[4] = {0xA5, uint8_t(y), uint8_t(x), 0x7E};
        std::memcpy(&target.pixels[(size_t(target.height - 1 - y) * target.width + x) * 4], held, 4);
      }
    }
    RenderPicture(picture, target.View(), TargetRect{0, 0, width * scale, height * scale});
    int mismatches = 0;
    for (int y = 0; y < height * scale && mismatches < 5; ++y) {
      for (int x = 0; x < width * scale && mismatches < 5; ++x) {
        const int index = expected[size_t(y / scale) * width + x / scale];
        const auto want = index < 0 ? std::array<uint8_t, 4>{0xA5, uint8_t(y), uint8_t(x), 0x7E}
                                    : Drawn(colours[index]);
        if (target.At(x, y) != want) {
          ++mismatches;
          const auto got = target.At(x, y);
          ADD_FAILURE() << "(" << x << "," << y << ") is " << int(got[0]) << "," << int(got[1]) << ","
                        << int(got[2]) << "," << int(got[3]) << ", wanted " << int(want[0]) << ","
                        << int(want[1]) << "," << int(want[2]) << "," << int(want[3]);
        }
      }
    }
  }
  ReleasePicture(picture);
}

Bytes Pattern(int width, int height, int colours) {
  Bytes indices(size_t(width) * height);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = uint8_t((i * 5 + i / width) % colours);
  return indices;
}

TEST(PicturesAgreement, BmpAndGifColoursLandExactly) {
  const std::vector<Rgb> colours = TestColours();
  const int w = 5, h = 3;  // odd width: BMP rows carry padding
  const Bytes indices = Pattern(w, h, int(colours.size()));
  const std::vector<int> all(indices.begin(), indices.end());
  struct Case {
    const char* name;
    Bytes file;
  };
  GifLayout gif;
  gif.screenWidth = gif.width = w;
  gif.screenHeight = gif.height = h;
  gif.colours = colours;
  gif.indices = indices;
  const Case cases[] = {
      {"BMP, 24 bits", MakeBmp(BmpKind::Bits24, w, h, colours, indices)},
      {"BMP, 8 bits", MakeBmp(BmpKind::Palette8, w, h, colours, indices)},
      {"BMP, 32 bits top-down", MakeBmp(BmpKind::TopDown32, w, h, colours, indices)},
      {"GIF", MakeGif(gif)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectPicture(c.file, w, h, colours, all);
  }
}

TEST(PicturesAgreement, GifTransparentPixelsLeaveTheTargetUntouched) {
  const std::vector<Rgb> colours = TestColours();
  GifLayout gif;
  gif.screenWidth = gif.width = 6;
  gif.screenHeight = gif.height = 4;
  gif.colours = colours;
  gif.indices = Pattern(6, 4, int(colours.size()));
  gif.transparentIndex = 2;
  std::vector<int> expected;
  for (uint8_t i : gif.indices) expected.push_back(i == 2 ? -1 : i);
  ExpectPicture(MakeGif(gif), 6, 4, colours, expected);
}

TEST(PicturesAgreement, OnlyGifJpegAndBmpArePictures) {
  const Bytes png = MakePng(2, 2, Bytes(16, 0x80));
  GifLayout gif;
  gif.screenWidth = gif.width = 2;
  gif.screenHeight = gif.height = 2;
  gif.colours = TestColours();
  gif.indices = {0, 1, 2, 3};
  const Bytes whole = MakeGif(gif);
  picture_checks::ExpectNoPicture({
      {"PNG", png},
      {"empty", {}},
      {"text", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}},
      {"an icon", Bytes{0, 0, 1, 0, 1, 0, 16, 16, 0, 0, 1, 0, 32, 0, 0, 0, 0, 0, 22, 0, 0, 0}},
      {"a GIF cut in its header", Bytes(whole.begin(), whole.begin() + 10)},
  });
}

TEST(PicturesAgreement, StretchFillsTheRectangleUprightAndClips) {
  // A 4x2 picture, twice as wide as high, into an 8x8 square: every pixel
  // drawn, the top row at the top.
  const std::vector<Rgb> colours = TestColours();
  const Bytes indices = {0, 1, 2, 3, 4, 5, 6, 0};
  Picture* picture = LoadPicture(MakeBmp(BmpKind::Bits24, 4, 2, colours, indices).data(),
                                 MakeBmp(BmpKind::Bits24, 4, 2, colours, indices).size());
  ASSERT_NE(picture, nullptr);
  Target square(8, 8);
  RenderPicture(picture, square.View(), TargetRect{0, 0, 8, 8});
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      ASSERT_EQ(square.At(x, y), Drawn(colours[indices[(y / 4) * 4 + x / 2]])) << "(" << x << "," << y << ")";
    }
  }

  // A 6x6 target inside a larger buffer, drawn into over its edges and with
  // an inverted rectangle: the rows around it keep what they held.
  Target buffer(6, 10);
  const PixelTarget inner{buffer.pixels.data() + 6 * 4 * 2, 6, 6};
  RenderPicture(picture, inner, TargetRect{-3, -4, 9, 8});
  RenderPicture(picture, inner, TargetRect{4, 4, 2, 2});
  ReleasePicture(picture);
  for (int i = 0; i < 6 * 10; ++i) {
    const bool inside = i >= 6 * 2 && i < 6 * 8;
    const bool untouched = std::memcmp(&buffer.pixels[size_t(i) * 4], Sentinel.data(), 4) == 0;
    EXPECT_NE(inside, untouched) << "pixel " << i;
  }
}

TEST(PicturesAgreement, PngBecomesAPremultipliedBitmap) {
  // Alpha 0, 128 and 255 over colours that show the rounding.
  const Bytes rgba = {200, 100, 50, 0, 200, 100, 51, 128, 255, 1, 254, 255,
                      9, 8, 7, 64, 255, 255, 255, 128, 0, 0, 0, 1};
  const Bytes png = MakePng(3, 2, rgba);
  EXPECT_EQ(LoadPicture(png.data(), png.size()), nullptr);
  picture_checks::ExpectPremultipliedBitmap(png, 3, 2, rgba);

  // What is no PNG is refused; a PNG cut in its image data reads its header
  // but gives no bitmap.
  GifLayout gif;
  gif.screenWidth = gif.width = gif.screenHeight = gif.height = 1;
  gif.colours = TestColours();
  gif.indices = {0};
  picture_checks::ExpectNoPngBitmap({
      {"GIF", MakeGif(gif)},
      {"empty", {}},
      {"PNG cut in its image data", Bytes(png.begin(), png.begin() + 50), true},
  });
}

TEST(PicturesAgreement, BitmapStretchCopiesAllFourBytes) {
  PremultipliedBitmap bitmap;
  bitmap.width = 2;
  bitmap.height = 1;
  bitmap.pixels = {1, 2, 3, 4, 5, 6, 7, 8};
  Target target(4, 2);
  StretchBitmap(bitmap, target.View(), TargetRect{0, 0, 4, 2});
  const Bytes expected = {1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8,
                          1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 5, 6, 7, 8};
  EXPECT_EQ(target.pixels, expected);
}

}  // namespace
