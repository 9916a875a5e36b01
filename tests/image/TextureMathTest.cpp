// The arithmetic of texture upload without a GL context: render edge,
// power-of-two padding, the nearest-neighbour scaler and the colour key.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/TextureMath.h"

namespace {

TEST(RenderEdge, HalfTheLimitUpTo4096) {
  const struct {
    int limit, edge;
  } cases[] = {{1024, 512}, {2048, 1024}, {4096, 2048}, {4097, 4096},
               {8192, 4096}, {16384, 4096}, {32768, 4096}, {3000, 1500}};
  for (const auto& c : cases) EXPECT_EQ(RenderEdge(c.limit), c.edge) << "limit " << c.limit;
}

TEST(PowerOfTwoAtLeast, DoublesFromOne) {
  const struct {
    uint32_t n;
    uint64_t size;
  } cases[] = {{0, 1},        {1, 1},         {2, 2},
               {3, 4},        {200, 256},     {256, 256},
               {257, 512},    {300, 512},     {0x80000000u, 0x80000000ull},
               {0x80000001u, 0x100000000ull}, {0xFFFFFFFFu, 0x100000000ull}};
  for (const auto& c : cases) EXPECT_EQ(PowerOfTwoAtLeast(c.n), c.size) << "n " << c.n;
}

TEST(PaddedTextureBytes, RefusesWhatOverflows32Bits) {
  const struct {
    uint64_t width, height;
    uint32_t bytes;
  } cases[] = {
      {512, 256, 512 * 256 * 4},
      {1, 1, 4},
      {32768, 16384, 0x80000000u},  // 2 GiB fits
      {32768, 32768, 0},            // 4 GiB is one past 32 bits
      {65536, 65536, 0},
      {0x100000000ull, 1, 0},       // a padded width of 2^32 alone overflows
      {1, 0x40000000ull, 0},        // 2^30 rows of one pixel: 4 GiB
      {0, 16, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PaddedTextureBytes(c.width, c.height), c.bytes) << c.width << "x" << c.height;
  }
}

// An image whose every pixel names its own column and row, so any pixel of a
// scaled buffer says where it came from.
std::vector<uint8_t> CoordinateImage(uint32_t w, uint32_t h) {
  std::vector<uint8_t> image(size_t(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &image[(size_t(y) * w + x) * 4];
      p[0] = uint8_t(x), p[1] = uint8_t(x >> 8), p[2] = uint8_t(y), p[3] = uint8_t(y >> 8);
    }
  }
  return image;
}

struct Source {
  uint32_t column, row;
};

Source SourceOf(const std::vector<uint8_t>& target, uint32_t W2, uint32_t bufferRow, uint32_t j) {
  const uint8_t* p = &target[(size_t(bufferRow) * W2 + j) * 4];
  return {uint32_t(p[0] | p[1] << 8), uint32_t(p[2] | p[3] << 8)};
}

std::vector<uint8_t> Scale(uint32_t w, uint32_t h, uint32_t W2, uint32_t H2) {
  const std::vector<uint8_t> image = CoordinateImage(w, h);
  std::vector<uint8_t> target(size_t(W2) * H2 * 4, 0xEE);
  ScaleImageNearest(image.data(), w, h, target.data(), W2, H2);
  return target;
}

TEST(ScaleImageNearest, FiveColumnsToEight) {
  const std::vector<uint8_t> target = Scale(5, 1, 8, 1);
  const uint32_t expected[8] = {0, 0, 1, 1, 2, 3, 3, 4};
  for (uint32_t j = 0; j < 8; ++j) EXPECT_EQ(SourceOf(target, 8, 0, j).column, expected[j]) << j;
}

TEST(ScaleImageNearest, ThreeRowsToFourBottomRowFirst) {
  const std::vector<uint8_t> target = Scale(2, 3, 2, 4);
  // Buffer rows 3, 2, 1, 0 hold source rows 0, 0, 1, 2.
  const uint32_t expectedRow[4] = {2, 1, 0, 0};
  for (uint32_t bufferRow = 0; bufferRow < 4; ++bufferRow) {
    for (uint32_t j = 0; j < 2; ++j) {
      const Source s = SourceOf(target, 2, bufferRow, j);
      EXPECT_EQ(s.row, expectedRow[bufferRow]) << "buffer row " << bufferRow;
      EXPECT_EQ(s.column, j);
    }
  }
}

// Every target pixel against floor(j*w/W2), floor(k*h/H2), with target row k
// stored at buffer row H2-1-k: sizes that step by fractions, by whole source
// pixels, and that keep their size.
TEST(ScaleImageNearest, EveryPixelFromItsNearestSource) {
  const struct {
    uint32_t w, h, W2, H2;
  } cases[] = {{300, 200, 512, 256}, {256, 256, 256, 256}, {1, 1, 1, 1}, {5, 3, 8, 4},
               {1, 7, 1, 8},         {129, 65, 256, 128},  {3, 1, 4, 1}, {1000, 3, 1024, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " to " << c.W2 << "x" << c.H2);
    const std::vector<uint8_t> target = Scale(c.w, c.h, c.W2, c.H2);
    int failures = 0;
    for (uint32_t k = 0; k < c.H2 && failures < 5; ++k) {
      for (uint32_t j = 0; j < c.W2 && failures < 5; ++j) {
        const Source s = SourceOf(target, c.W2, c.H2 - 1 - k, j);
        const uint32_t column = uint32_t(uint64_t(j) * c.w / c.W2);
        const uint32_t row = uint32_t(uint64_t(k) * c.h / c.H2);
        if (s.column != column || s.row != row) {
          ++failures;
          ADD_FAILURE() << "target (" << j << "," << k << ") from (" << s.column << "," << s.row
                        << ") instead of (" << column << "," << row << ")";
        }
      }
    }
  }
}

TEST(ScaleImageNearest, SameSizeIsTheImageUpsideDown) {
  const uint32_t w = 256, h = 256;
  const std::vector<uint8_t> image = CoordinateImage(w, h);
  std::vector<uint8_t> target(image.size());
  ScaleImageNearest(image.data(), w, h, target.data(), w, h);
  for (uint32_t y = 0; y < h; ++y) {
    ASSERT_TRUE(std::equal(image.begin() + y * w * 4, image.begin() + (y + 1) * w * 4,
                           target.begin() + (h - 1 - y) * w * 4))
        << "source row " << y;
  }
}

TEST(ScaleImageNearest, CopiesWholePixelsWithAlpha) {
  // Four distinct bytes per pixel, alpha included: no channel mixing.
  const std::vector<uint8_t> image = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120};
  std::vector<uint8_t> target(4 * 1 * 4);
  ScaleImageNearest(image.data(), 3, 1, target.data(), 4, 1);
  const std::vector<uint8_t> expected = {10, 20, 30,  40,  10, 20, 30,  40,
                                         50, 60, 70,  80,  90, 100, 110, 120};
  EXPECT_EQ(target, expected);
}

TEST(KeyBgrxToRgba, ExchangesRedAndBlueAndKeysOnGreenAndBlue) {
  const struct {
    uint8_t r, g, b;
    uint8_t alpha;
  } cases[] = {
      {0, 0, 0, 0},     {200, 0, 0, 0},   {255, 0, 0, 0},     {0, 0, 1, 255},
      {0, 1, 0, 255},   {1, 0, 1, 255},   {255, 255, 255, 255}, {12, 34, 56, 255},
  };
  // Rows of every length up to a few blocks of pixels, each case at every
  // position of a block and in the tail after the last whole block.
  constexpr size_t caseCount = sizeof(cases) / sizeof(cases[0]);
  for (size_t length = 1; length <= 19; ++length) {
    std::vector<uint8_t> row;
    for (size_t i = 0; i < length; ++i) {
      const auto& c = cases[(i * 3 + length) % caseCount];
      row.insert(row.end(), {c.b, c.g, c.r, 0x5A});  // as drawn: blue, green, red, reserved
    }
    KeyBgrxToRgba(row.data(), length);
    for (size_t i = 0; i < length; ++i) {
      const auto& c = cases[(i * 3 + length) % caseCount];
      SCOPED_TRACE(testing::Message() << "pixel " << i << " of " << length << ": " << int(c.r) << ","
                                      << int(c.g) << "," << int(c.b));
      EXPECT_EQ(row[i * 4 + 0], c.r);
      EXPECT_EQ(row[i * 4 + 1], c.g);
      EXPECT_EQ(row[i * 4 + 2], c.b);
      EXPECT_EQ(row[i * 4 + 3], c.alpha);
    }
  }
}

}  // namespace
