// The PNG decoder: the public PNG suite against libpng, images made here in
// every format against libpng, and hand-made files for each failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "PngTestSupport.h"
#include "png/PngDecoder.h"

namespace {

const std::string SuiteDir = DEMO_PNGSUITE_DIR;

// Decodes from an exact-size copy so that the sanitizer build sees over-reads.
PngState decode(const Bytes& file, Bytes& rgba) {
  std::unique_ptr<unsigned char[]> exact(new unsigned char[file.size() ? file.size() : 1]);
  if (!file.empty()) std::memcpy(exact.get(), file.data(), file.size());
  PngState state;
  rgba.clear();
  decodeImage(rgba, state, file.empty() ? nullptr : exact.get(), file.size());
  return state;
}

int decodeError(const Bytes& file) {
  Bytes rgba;
  return decode(file, rgba).error;
}

Bytes idat(const Bytes& scanlines) { return pngChunk("IDAT", zlibCompress(scanlines, 6)); }
const Bytes iend = pngChunk("IEND", {});

// A 2x2 8-bit greyscale image, rows unfiltered.
Bytes grey2x2Data() { return idat({0, 10, 20, 0, 30, 40}); }

Bytes withByte(Bytes b, size_t at, unsigned char value) {
  b[at] = value;
  return b;
}

// ---------------------------------------------------------------------------
// The public suite.

std::vector<std::string> suiteFiles(bool broken) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(SuiteDir)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".png") continue;
    if ((name[0] == 'x') == broken) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PngSuite, EveryValidFileMatchesLibpng) {
  const auto names = suiteFiles(false);
  ASSERT_GT(names.size(), 140u) << "the suite is missing from " << SuiteDir;
  Bytes reused;  // each picture is decoded over the last one too, as into a caller's buffer kept for the next
  for (const std::string& name : names) {
    const Bytes file = readFile(SuiteDir + "/" + name);
    Bytes ours, theirs;
    const PngState state = decode(file, ours);
    ASSERT_EQ(state.error, 0) << name;
    uint32_t width, height;
    std::string message;
    ASSERT_TRUE(libpngDecode(file, theirs, width, height, message)) << name << ": " << message;
    EXPECT_EQ(state.width, width) << name;
    EXPECT_EQ(state.height, height) << name;
    EXPECT_TRUE(ours == theirs) << name << " differs from libpng";
    PngState again;
    decodeImage(reused, again, file.data(), file.size());
    EXPECT_EQ(again.error, 0) << name;
    EXPECT_TRUE(reused == theirs) << name << " differs when decoded over the previous picture";
  }
}

// The show's own PNG: large, Adam7, RGBA with partial alpha and many rows
// whose Average filter sums pass 255, which the suite's small files hardly do.
TEST(PngSuite, TheBundledShowsImageMatchesLibpng) {
  const std::string path = std::string(DEMO_SOURCE_DIR) + "/res/grlsch.png";
  const Bytes file = readFile(path);
  ASSERT_FALSE(file.empty()) << path;
  Bytes ours, theirs;
  const PngState state = decode(file, ours);
  ASSERT_EQ(state.error, 0);
  uint32_t width, height;
  std::string message;
  ASSERT_TRUE(libpngDecode(file, theirs, width, height, message)) << message;
  EXPECT_EQ(state.width, width);
  EXPECT_EQ(state.height, height);
  EXPECT_TRUE(ours == theirs) << "grlsch.png differs from libpng";
}

// The damaged files of the suite, and the failure their damage implies.
TEST(PngSuite, BrokenFilesGiveTheirCodes) {
  const struct {
    const char* name;
    int expected;
  } cases[] = {
      {"xc1n0g08.png", 31},  // colour type 1
      {"xc9n2c08.png", 31},  // colour type 9
      {"xcrn0g04.png", 28},  // line endings mangled: the signature no longer matches
      {"xd0n2c08.png", 37},  // bit depth 0
      {"xd3n2c08.png", 37},  // bit depth 3
      {"xd9n2c08.png", 37},  // bit depth 99
      {"xdtn0g01.png", 53},  // no IDAT: an empty zlib stream
      {"xlfn0g04.png", 28},  // line feeds added to the signature
      {"xs1n0g01.png", 28},  // signature byte 1 wrong
      {"xs2n0g01.png", 28},  // signature byte 2 wrong
      {"xs4n0g01.png", 28},  // signature byte 4 wrong
      {"xs7n0g01.png", 28},  // signature byte 7 wrong
      {"xcsn0g01.png", 0},   // bad CRC in IDAT: CRCs are not read
      {"xhdn0g08.png", 0},   // bad CRC in IHDR: likewise
  };
  const auto names = suiteFiles(true);
  EXPECT_EQ(names.size(), std::size(cases)) << "a broken file without an expectation";
  for (const auto& c : cases) {
    EXPECT_EQ(decodeError(readFile(SuiteDir + "/" + c.name)), c.expected) << c.name;
  }
  // The two with bad CRCs decode to what libpng gives when told to ignore CRCs.
  for (const char* name : {"xcsn0g01.png", "xhdn0g08.png"}) {
    const Bytes file = readFile(SuiteDir + "/" + name);
    Bytes ours, theirs;
    uint32_t width, height;
    std::string message;
    ASSERT_EQ(decode(file, ours).error, 0);
    ASSERT_TRUE(libpngDecode(file, theirs, width, height, message, true)) << name << ": " << message;
    EXPECT_TRUE(ours == theirs) << name;
  }
}

// ---------------------------------------------------------------------------
// Images made here, every format.

struct Format {
  int colourType, depth;
};
const Format formats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                          {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

unsigned bitsPerPixelOf(const Format& f) {
  static const int samples[7] = {1, 0, 3, 1, 2, 0, 4};
  return f.depth * samples[f.colourType];
}

Bytes rawImage(const Format& f, uint32_t width, uint32_t height, uint32_t seed) {
  const size_t rowBytes = (size_t{width} * bitsPerPixelOf(f) + 7) / 8;
  Bytes raw = randomBytes(rowBytes * height, seed);
  // Smooth areas as well as noise, so that the filters see both.
  for (size_t i = 0; i < raw.size() / 2; ++i) raw[i] = static_cast<unsigned char>(i / 7);
  if (f.colourType == 3 && f.depth == 8) {
    for (auto& b : raw) b %= 200;  // stays inside the 200-entry palette
  }
  // Padding bits at the end of a row are not part of the image.
  const unsigned usedBits = (width * bitsPerPixelOf(f)) % 8;
  if (usedBits) {
    for (uint32_t y = 0; y < height; ++y) raw[(y + 1) * rowBytes - 1] &= static_cast<unsigned char>(0xFF << (8 - usedBits));
  }
  return raw;
}

Bytes paletteFor(const Format& f) {
  if (f.colourType != 3) return {};
  const size_t entries = f.depth == 8 ? 200 : (1u << f.depth);
  return randomBytes(entries * 3, 99);
}

TEST(PngFormats, EveryFormatSizeAndFilterMatchesLibpngAndInterlacingChangesNothing) {
  const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {1, 9}, {9, 1}, {5, 3}, {8, 8}, {17, 13}, {33, 40}};
  for (const Format& f : formats) {
    for (auto [w, h] : sizes) {
      const Bytes raw = rawImage(f, w, h, w * 31 + h);
      const Bytes palette = paletteFor(f);
      // Some palette entries translucent, so palette alpha is checked too.
      const Bytes trns = f.colourType == 3 ? (f.depth == 1 ? Bytes{0, 128} : Bytes{0, 128, 255}) : Bytes{};
      const std::string what = "type " + std::to_string(f.colourType) + " depth " + std::to_string(f.depth) +
                               " " + std::to_string(w) + "x" + std::to_string(h);
      Bytes plain, interlaced, reference;
      ASSERT_EQ(decode(makePng(raw, w, h, f.depth, f.colourType, false, palette, trns), plain).error, 0) << what;
      const Bytes interlacedFile = makePng(raw, w, h, f.depth, f.colourType, true, palette, trns);
      ASSERT_EQ(decode(interlacedFile, interlaced).error, 0) << what;
      EXPECT_TRUE(plain == interlaced) << what << ": interlaced differs";
      uint32_t rw, rh;
      std::string message;
      ASSERT_TRUE(libpngDecode(interlacedFile, reference, rw, rh, message)) << what << ": " << message;
      EXPECT_TRUE(interlaced == reference) << what << ": differs from libpng";
    }
  }
}

TEST(PngFormats, TruecolourAlpha8IsTheUnfilteredDataItself) {
  const Format f{6, 8};
  const Bytes raw = rawImage(f, 13, 7, 5);
  Bytes rgba;
  ASSERT_EQ(decode(makePng(raw, 13, 7, 8, 6, false), rgba).error, 0);
  EXPECT_EQ(rgba, raw);
}

TEST(PngFormats, LowGreyDepthsScaleToFullRange) {
  const struct {
    int depth;
    Bytes raw;  // one row
    Bytes greys;
  } cases[] = {
      {1, {0b10000000}, {255, 0}},
      {2, {0b00011011}, {0, 85, 170, 255}},
      {4, {0x0F, 0x7A}, {0, 255, 119, 170}},
      {16, {0x12, 0x34, 0xAB, 0xCD}, {0x12, 0xAB}},
  };
  for (const auto& c : cases) {
    const uint32_t width = static_cast<uint32_t>(c.greys.size());
    Bytes rgba;
    ASSERT_EQ(decode(makePng(c.raw, width, 1, c.depth, 0, false), rgba).error, 0) << c.depth;
    for (uint32_t x = 0; x < width; ++x) {
      EXPECT_EQ(rgba[4 * x], c.greys[x]) << "depth " << c.depth << " pixel " << x;
      EXPECT_EQ(rgba[4 * x + 2], c.greys[x]);
      EXPECT_EQ(rgba[4 * x + 3], 255);
    }
  }
}

// The second row's Up filter must add the first row's unfiltered bits.
TEST(PngFormats, UpFilterOnPackedRowsUsesThePreviousUnfilteredRow) {
  // Row 0 (None): pixels 1 0. Row 1 (Up): 0b11000000 + 0b10000000 = 0b01000000.
  const Bytes scan = {0, 0b10000000, 2, 0b11000000};
  Bytes rgba;
  ASSERT_EQ(decode(concat({pngHeader(2, 2, 1, 0), idat(scan), iend}), rgba).error, 0);
  const Bytes expected = {255, 255, 255, 255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255};
  EXPECT_EQ(rgba, expected);
}

TEST(PngFormats, GreyKeyMakesExactlyMatchingSamplesTransparent) {
  const struct {
    int depth;
    uint16_t key;
  } cases[] = {{1, 1}, {2, 2}, {4, 9}, {8, 77}, {16, 0x1234}, {8, 256 + 77}};
  for (const auto& c : cases) {
    const uint32_t width = 64;
    const Format f{0, c.depth};
    Bytes raw = rawImage(f, width, 2, c.depth);
    if (c.depth == 8) raw[3] = 77;
    if (c.depth == 16) raw[6] = 0x12, raw[7] = 0x34, raw[8] = 0x12, raw[9] = 0x35;
    const Bytes trns = {static_cast<unsigned char>(c.key >> 8), static_cast<unsigned char>(c.key)};
    Bytes rgba;
    ASSERT_EQ(decode(makePng(raw, width, 2, c.depth, 0, false, {}, trns), rgba).error, 0);
    int transparent = 0;
    for (uint32_t i = 0; i < width * 2; ++i) {
      const size_t bit = size_t{i} * c.depth;
      unsigned sample;
      if (c.depth == 16) sample = (raw[2 * i] << 8) | raw[2 * i + 1];
      else sample = (raw[bit / 8] >> (8 - c.depth - bit % 8)) & ((1u << c.depth) - 1);
      const bool match = sample == c.key;
      transparent += match;
      EXPECT_EQ(rgba[4 * i + 3], match ? 0 : 255) << "depth " << c.depth << " key " << c.key << " pixel " << i;
    }
    // A key beyond the sample range never matches; the others do somewhere.
    if (c.key > 255 && c.depth == 8) EXPECT_EQ(transparent, 0);
    else EXPECT_GT(transparent, 0) << "depth " << c.depth;
  }
}

TEST(PngFormats, TruecolourKeyComparesAllThreeSamples) {
  const Bytes raw = {1, 2, 3, 1, 2, 4, 9, 2, 3, 1, 2, 3};
  const Bytes trns = {0, 1, 0, 2, 0, 3};
  Bytes rgba;
  ASSERT_EQ(decode(makePng(raw, 4, 1, 8, 2, false, {}, trns), rgba).error, 0);
  EXPECT_EQ(rgba[3], 0);
  EXPECT_EQ(rgba[7], 255);
  EXPECT_EQ(rgba[11], 255);
  EXPECT_EQ(rgba[15], 0);
}

// A large image that compresses far better than usual: its scanline buffer is
// sized from the small compressed data, so the RGBA image cannot fit in it and
// the buffer moves when it grows. Few pixels set, at the far corner and the
// start, so that both ends of the moved buffer are checked.
TEST(PngFormats, LargeCompressibleImagesConvertCorrectly) {
  const struct {
    Format format;
    uint32_t width, height;
  } cases[] = {{{0, 8}, 2304, 2048}, {{3, 1}, 4608, 1024}};
  for (const auto& c : cases) {
    const unsigned bpp = bitsPerPixelOf(c.format);
    const size_t rowBytes = (size_t{c.width} * bpp + 7) / 8;
    Bytes raw(rowBytes * c.height, 0);
    raw.front() = 0xFF;
    raw.back() = 0xFF;
    const Bytes palette = c.format.colourType == 3 ? Bytes{10, 20, 30, 40, 50, 60} : Bytes{};
    const Bytes file = makePng(raw, c.width, c.height, c.format.depth, c.format.colourType, false, palette);
    Bytes rgba;
    const std::string what = "type " + std::to_string(c.format.colourType) + " depth " +
                             std::to_string(c.format.depth);
    ASSERT_EQ(decode(file, rgba).error, 0) << what;
    ASSERT_EQ(rgba.size(), size_t{c.width} * c.height * 4) << what;
    Bytes reference;
    uint32_t rw, rh;
    std::string message;
    ASSERT_TRUE(libpngDecode(file, reference, rw, rh, message)) << what << ": " << message;
    EXPECT_TRUE(rgba == reference) << what << ": differs from libpng";
  }
}

// ---------------------------------------------------------------------------
// Chunk layout.

TEST(PngChunks, ImageDataSplitAnywhereWithChunksBetweenDecodesTheSame) {
  const Format f{2, 8};
  const Bytes raw = rawImage(f, 20, 10, 1);
  const Bytes compressed = zlibCompress(makeScanlines(raw, 20, 10, 24, false, nullptr), 9);
  const Bytes head = pngHeader(20, 10, 8, 2);
  Bytes expected;
  ASSERT_EQ(decode(concat({head, pngChunk("IDAT", compressed), iend}), expected).error, 0);
  for (size_t cut = 0; cut <= compressed.size(); ++cut) {
    const Bytes first(compressed.begin(), compressed.begin() + cut);
    const Bytes second(compressed.begin() + cut, compressed.end());
    const Bytes file = concat({head, pngChunk("IDAT", first), pngChunk("tEXt", {'k', 0, 'v'}),
                               pngChunk("tIME", Bytes(7, 1)), pngChunk("IDAT", second), iend});
    Bytes rgba;
    ASSERT_EQ(decode(file, rgba).error, 0) << "cut at " << cut;
    ASSERT_EQ(rgba, expected) << "cut at " << cut;
  }
  Bytes oneByteChunks = head;
  for (unsigned char b : compressed) oneByteChunks = concat({oneByteChunks, pngChunk("IDAT", {b})});
  Bytes rgba;
  ASSERT_EQ(decode(concat({oneByteChunks, iend}), rgba).error, 0);
  EXPECT_EQ(rgba, expected);
}

TEST(PngChunks, PaletteOfPartialEntriesUsesTheWholeOnes) {
  // 7 bytes: two entries and one unused byte; the IDAT after it is still found.
  const Bytes file = concat({pngHeader(2, 1, 8, 3), pngChunk("PLTE", {1, 2, 3, 4, 5, 6, 7}),
                             idat({0, 1, 0}), iend});
  Bytes rgba;
  ASSERT_EQ(decode(file, rgba).error, 0);
  EXPECT_EQ(rgba, (Bytes{4, 5, 6, 255, 1, 2, 3, 255}));
}

TEST(PngChunks, LaterPaletteReplacesTheEarlierOne) {
  const Bytes file = concat({pngHeader(1, 1, 8, 3), pngChunk("PLTE", {1, 2, 3}), pngChunk("tRNS", {9}),
                             pngChunk("PLTE", {7, 8, 9}), idat({0, 0}), iend});
  Bytes rgba;
  ASSERT_EQ(decode(file, rgba).error, 0);
  EXPECT_EQ(rgba, (Bytes{7, 8, 9, 255}));
}

TEST(PngChunks, ARecordCanBeReused) {
  PngState state;
  Bytes rgba;
  const Bytes indexed = concat({pngHeader(1, 1, 8, 3), pngChunk("PLTE", {1, 2, 3}), idat({0, 0}), iend});
  decodeImage(rgba, state, indexed.data(), indexed.size());
  ASSERT_EQ(state.error, 0);
  // Without a PLTE of its own the stale palette must not colour this image.
  const Bytes noPalette = concat({pngHeader(1, 1, 8, 3), idat({0, 0}), iend});
  rgba.clear();
  decodeImage(rgba, state, noPalette.data(), noPalette.size());
  EXPECT_EQ(state.error, 46);
  // Nor does an earlier header's size survive a file without one.
  decodeImage(rgba, state, nullptr, 0);
  EXPECT_EQ(state.error, 48);
  EXPECT_EQ(state.width, 0u);
  EXPECT_EQ(state.height, 0u);
}

// ---------------------------------------------------------------------------
// Failures, in the order the checks run.

struct PngErrorCase {
  const char* name;
  std::function<Bytes()> make;
  int expected;
};

const Bytes valid = concat({pngHeader(2, 2, 8, 0), grey2x2Data(), iend});

Bytes indexedImage(const Bytes& scan, int depth, uint32_t width, const Bytes& palette) {
  return concat({pngHeader(width, 1, depth, 3), pngChunk("PLTE", palette), idat(scan), iend});
}

const PngErrorCase pngErrorCases[] = {
    {"Valid", [] { return valid; }, 0},
    {"Empty", [] { return Bytes{}; }, 48},
    {"TwentyEightBytes", [] { return Bytes(valid.begin(), valid.begin() + 28); }, 27},
    {"Jpeg", [] { return concat({Bytes{0xFF, 0xD8, 0xFF, 0xE0}, Bytes(60, 0)}); }, 28},
    {"NotIhdrFirst", [] { return withByte(valid, 12, 'i'); }, 29},
    {"CompressionMethod1", [] { return concat({pngHeader(2, 2, 8, 0, 0, 1), grey2x2Data(), iend}); }, 32},
    {"FilterMethod1", [] { return concat({pngHeader(2, 2, 8, 0, 0, 0, 1), grey2x2Data(), iend}); }, 33},
    {"InterlaceMethod2", [] { return concat({pngHeader(2, 2, 8, 0, 2), grey2x2Data(), iend}); }, 34},
    {"MethodsBeforeColourType", [] { return concat({pngHeader(2, 2, 8, 5, 2), grey2x2Data(), iend}); }, 34},
    {"ColourType5", [] { return concat({pngHeader(2, 2, 8, 5), grey2x2Data(), iend}); }, 31},
    {"ColourType1", [] { return concat({pngHeader(2, 2, 3, 1), grey2x2Data(), iend}); }, 31},
    {"Truecolour4Bit", [] { return concat({pngHeader(2, 2, 4, 2), grey2x2Data(), iend}); }, 37},
    {"Indexed16Bit", [] { return concat({pngHeader(2, 2, 16, 3), grey2x2Data(), iend}); }, 37},
    {"Grey3Bit", [] { return concat({pngHeader(2, 2, 3, 0), grey2x2Data(), iend}); }, 37},
    {"WidthZero", [] { return concat({pngHeader(0, 2, 8, 0), grey2x2Data(), iend}); }, 43},
    {"HeightZero", [] { return concat({pngHeader(2, 0, 8, 0), iend}); }, 43},
    // An empty or oversized image is refused where its buffers would be sized,
    // after the chunk walk: a fault the walk meets is reported first.
    {"WidthZeroCutShort", [] { return concat({pngHeader(0, 2, 8, 0), grey2x2Data()}); }, 30},
    {"HeightZeroChunkPastEnd", [] { return concat({pngHeader(2, 0, 8, 0), Bytes{0, 0, 1, 0, 'I', 'D', 'A', 'T'}, Bytes(8, 0)}); }, 35},
    {"OversizeWithUnknownCritical", [] { return concat({pngHeader(40000, 40000, 8, 6), pngChunk("ZzZz", {}), iend}); }, 69},
    {"RgbaBeyond32Bits", [] { return concat({pngHeader(40000, 40000, 8, 6), grey2x2Data(), iend}); }, 44},
    {"RawBeyond32Bits", [] { return concat({pngHeader(30000, 30000, 16, 6), grey2x2Data(), iend}); }, 44},
    {"HugeClaimLittleData", [] { return concat({pngHeader(30000, 30000, 8, 2), grey2x2Data(), iend}); }, 45},
    {"EndsRightAfterIendType", [] { return Bytes(valid.begin(), valid.end() - 4); }, 30},
    {"EndsOneByteAfterIendType", [] { return Bytes(valid.begin(), valid.end() - 3); }, 0},
    {"NoIend", [] { return concat({pngHeader(2, 2, 8, 0), grey2x2Data()}); }, 30},
    {"HeaderOnly", [] { return pngHeader(2, 2, 8, 0); }, 30},
    {"HeaderWithoutCrc", [] { return Bytes(valid.begin(), valid.begin() + 29); }, 30},
    {"HeaderWithPartOfCrc", [] { return Bytes(valid.begin(), valid.begin() + 32); }, 30},
    {"ChunkLengthBit31", [] { return concat({pngHeader(2, 2, 8, 0), Bytes{0x80, 0, 0, 0, 't', 'E', 'X', 't'}, Bytes(8, 0)}); }, 63},
    {"ChunkPastEnd", [] { return concat({pngHeader(2, 2, 8, 0), Bytes{0, 0, 1, 0, 't', 'E', 'X', 't'}, Bytes(8, 0)}); }, 35},
    {"ArbitraryCrcs",
     [] {
       Bytes f = valid;
       for (size_t at : {size_t{29}, f.size() - 4}) std::memset(&f[at], 0xA7, 4);
       return f;
     },
     0},
    {"UnknownAncillarySkipped", [] { return concat({pngHeader(2, 2, 8, 0), pngChunk("zzZz", Bytes(5, 1)), grey2x2Data(), iend}); }, 0},
    {"UnknownCritical", [] { return concat({pngHeader(2, 2, 8, 0), pngChunk("ZzZz", {}), grey2x2Data(), iend}); }, 69},
    {"SecondIhdr", [] { return concat({pngHeader(2, 2, 8, 0), Bytes(valid.begin() + 8, valid.begin() + 33), grey2x2Data(), iend}); }, 69},
    {"AfterIendIgnored", [] { return concat({valid, pngChunk("ZzZz", {}), Bytes{1, 2, 3}}); }, 0},
    {"Palette256", [] { return indexedImage({0, 255}, 8, 1, Bytes(768, 1)); }, 0},
    {"Palette257", [] { return indexedImage({0, 255}, 8, 1, Bytes(771, 1)); }, 38},
    {"TrnsBeforePalette", [] { return concat({pngHeader(1, 1, 8, 3), pngChunk("tRNS", {1}), pngChunk("PLTE", {1, 2, 3}), idat({0, 0}), iend}); }, 39},
    {"EmptyTrnsBeforePalette", [] { return concat({pngHeader(1, 1, 8, 3), pngChunk("tRNS", {}), pngChunk("PLTE", {1, 2, 3}), idat({0, 0}), iend}); }, 0},
    {"TrnsLongerThanPalette", [] { return concat({pngHeader(1, 1, 8, 3), pngChunk("PLTE", {1, 2, 3}), pngChunk("tRNS", {1, 2}), idat({0, 0}), iend}); }, 39},
    {"GreyTrnsLength3", [] { return concat({pngHeader(2, 2, 8, 0), pngChunk("tRNS", {0, 1, 2}), grey2x2Data(), iend}); }, 40},
    {"TruecolourTrnsLength2", [] { return concat({pngHeader(1, 1, 8, 2), pngChunk("tRNS", {0, 1}), idat({0, 1, 2, 3}), iend}); }, 41},
    {"GreyAlphaTrns", [] { return concat({pngHeader(1, 1, 8, 4), pngChunk("tRNS", {0, 1}), idat({0, 1, 2}), iend}); }, 42},
    {"TruecolourAlphaTrns", [] { return concat({pngHeader(1, 1, 8, 6), pngChunk("tRNS", {0, 1}), idat({0, 1, 2, 3, 4}), iend}); }, 42},
    {"NoImageData", [] { return concat({pngHeader(2, 2, 8, 0), iend}); }, 53},
    {"BrokenImageData", [] { return concat({pngHeader(2, 2, 8, 0), pngChunk("IDAT", {0x78, 0x9D, 1, 2}), iend}); }, 24},
    {"FilterType5", [] { return concat({pngHeader(2, 2, 8, 0), idat({0, 10, 20, 5, 30, 40}), iend}); }, 36},
    {"FilterType5Interlaced", [] { return concat({pngHeader(2, 2, 8, 0, 1), idat({0, 1, 0, 2, 5, 3, 4}), iend}); }, 36},
    {"DataShort", [] { return concat({pngHeader(2, 2, 8, 0), idat({0, 10, 20, 0, 30}), iend}); }, 45},
    {"DataShortInterlaced", [] { return concat({pngHeader(2, 2, 8, 0, 1), idat({0, 1, 0, 2, 0}), iend}); }, 45},
    {"BadFilterBeforeShortData", [] { return concat({pngHeader(2, 3, 8, 0), idat({0, 10, 20, 7, 30, 40, 0}), iend}); }, 36},
    {"LongerDataIsFine", [] { return concat({pngHeader(2, 2, 8, 0), idat({0, 10, 20, 0, 30, 40, 9, 9, 9}), iend}); }, 0},
    // Data may run on past the scanlines by up to a mebibyte, never further:
    // a small file cannot make the decoder allocate without bound.
    {"DataAMebibytePastTheImage", [] { return concat({pngHeader(2, 2, 8, 0), idat(concat({{0, 10, 20, 0, 30, 40}, Bytes(1 << 20, 0)})), iend}); }, 0},
    {"DataFurtherPastTheImage", [] { return concat({pngHeader(2, 2, 8, 0), idat(concat({{0, 10, 20, 0, 30, 40}, Bytes((1 << 20) + 1, 0)})), iend}); }, 65},
    {"IndexBeyondPalette8", [] { return indexedImage({0, 0, 2}, 8, 2, {1, 2, 3, 4, 5, 6}); }, 46},
    {"IndexBeyondPalette4", [] { return indexedImage({0, 0x12}, 4, 2, {1, 2, 3, 4, 5, 6}); }, 47},
    {"IndexBeyondPalette1", [] { return indexedImage({0, 0x40}, 1, 2, {1, 2, 3}); }, 47},
    {"IndexedWithoutPalette8", [] { return concat({pngHeader(1, 1, 8, 3), idat({0, 0}), iend}); }, 46},
    {"IndexedWithoutPalette2", [] { return concat({pngHeader(1, 1, 2, 3), idat({0, 0}), iend}); }, 47},
    {"FilterErrorBeforePaletteError", [] { return concat({pngHeader(1, 2, 8, 3), idat({0, 9, 5, 0}), iend}); }, 36},
};

class PngErrors : public ::testing::TestWithParam<PngErrorCase> {};

// Palette rows are checked for indices beyond the palette in blocks: 8-bit
// rows 16 bytes at a time with an overlapping tail, lower depths a whole byte
// at a time with the last, partly used byte pixel by pixel. A bad index must
// be found wherever it stands, and the padding bits after the last pixel must
// never count, whatever they hold.
TEST(PngFormats, PaletteIndexFaultsAreFoundAnywhereAndPaddingIsIgnored) {
  const struct {
    const char* name;
    int depth;
    uint32_t width;
    Bytes palette;
    std::vector<uint32_t> badPixels;  // each on its own in an otherwise valid row
    Bytes padding;                    // the last byte of a row whose pixels are all 0
    int code;
  } cases[] = {
      {"8-bit, 40 wide", 8, 40, {1, 2, 3, 4, 5, 6}, {0, 15, 16, 31, 32, 39}, {}, 46},
      {"8-bit, 7 wide", 8, 7, {1, 2, 3, 4, 5, 6}, {0, 6}, {}, 46},
      {"4-bit, 9 wide", 4, 9, {1, 2, 3, 4, 5, 6}, {0, 1, 7, 8}, {0x0F}, 47},
      {"2-bit, 7 wide", 2, 7, {1, 2, 3, 4, 5, 6}, {0, 3, 4, 6}, {0x03}, 47},
      {"1-bit, 13 wide", 1, 13, {1, 2, 3}, {0, 7, 8, 12}, {0x07}, 47},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t rowBytes = (c.width * c.depth + 7) / 8;
    for (uint32_t bad : c.badPixels) {
      Bytes scan(1 + rowBytes, 0);
      const size_t bit = size_t{bad} * c.depth;
      scan[1 + bit / 8] |= static_cast<unsigned char>(((1u << c.depth) - 1) << (8 - c.depth - bit % 8));
      EXPECT_EQ(decodeError(indexedImage(scan, c.depth, c.width, c.palette)), c.code) << "pixel " << bad;
    }
    for (unsigned char last : c.padding) {
      Bytes scan(1 + rowBytes, 0);
      scan.back() = last;
      EXPECT_EQ(decodeError(indexedImage(scan, c.depth, c.width, c.palette)), 0) << "padding " << int{last};
    }
  }
}

TEST_P(PngErrors, ReportsTheFirstFailure) { EXPECT_EQ(decodeError(GetParam().make()), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Crafted, PngErrors, ::testing::ValuesIn(pngErrorCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PngErrors, SizeIsKnownOnceTheHeaderIsRead) {
  const struct {
    Bytes file;
    int expected;
    uint32_t width, height;
  } cases[] = {
      {Bytes(10, 0), 27, 0, 0},
      {withByte(valid, 0, 0), 28, 0, 0},
      {withByte(valid, 15, 'r'), 29, 0, 0},
      {concat({pngHeader(7, 9, 3, 2), iend}), 37, 7, 9},
      {concat({pngHeader(7, 9, 8, 0), pngChunk("IDAT", {1})}), 30, 7, 9},
  };
  for (const auto& c : cases) {
    Bytes rgba;
    const PngState state = decode(c.file, rgba);
    EXPECT_EQ(state.error, c.expected);
    EXPECT_EQ(state.width, c.width);
    EXPECT_EQ(state.height, c.height);
  }
}

TEST(PngErrors, NullPointerWithCount) {
  PngState state;
  Bytes rgba;
  decodeImage(rgba, state, nullptr, 100);
  EXPECT_EQ(state.error, 48);
}

// ---------------------------------------------------------------------------
// Filters.

TEST(PngFilters, PaethPrefersLeftThenAbove) {
  const struct {
    int a, b, c, expected;
  } cases[] = {
      {0, 0, 0, 0},       {10, 10, 10, 10},   {10, 20, 10, 20},  {20, 10, 10, 20},
      {10, 20, 15, 15},   // pa 5, pb 5, pc 0: upper-left closest
      {0, 3, 1, 3},       // pb = pc: above before upper-left
      {3, 0, 1, 3},       // pa = pc: left before upper-left
      {100, 50, 75, 75},  {255, 0, 255, 0},   {0, 255, 255, 0},  {5, 9, 7, 7},
      {7, 9, 8, 8},       {50, 60, 55, 55},   {50, 60, 40, 60},  {60, 50, 40, 60},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(paethPredictor(c.a, c.b, c.c), c.expected) << c.a << " " << c.b << " " << c.c;
  }
}

// The predictor exactly as the format defines it, for checking the faster
// forms the unfiltering uses against it.
int paethByDefinition(int a, int b, int c) {
  const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Every (left, above, upper-left) triple through a Paeth line, for each pixel
// size. The line above alternates c and b, so odd pixels see (a, b, c) and
// even ones (a, c, b); each filtered byte is chosen so that the next left value
// a runs through 0..255. All bytes of a pixel share the triple.
TEST(PngFilters, PaethLinesMatchTheDefinitionForEveryTriple) {
  for (size_t step : {1, 2, 3, 4, 6, 8}) {
    const size_t pixels = 1 + 2 * 256;
    Bytes raw(pixels * step), prior(pixels * step), recon(pixels * step), expected(pixels * step);
    size_t failures = 0;
    for (int b = 0; b < 256 && failures == 0; ++b) {
      for (int c = b; c < 256 && failures == 0; ++c) {
        int left = 0, upperLeft = 0;
        for (size_t j = 0; j < pixels; ++j) {
          const int above = j % 2 ? b : c;
          const int next = static_cast<int>(j / 2 + (j % 2 ? 0 : 128)) & 0xFF;  // varies the left value
          const int predicted = paethByDefinition(left, above, upperLeft);
          for (size_t k = 0; k < step; ++k) {
            prior[j * step + k] = static_cast<unsigned char>(above);
            raw[j * step + k] = static_cast<unsigned char>(next - predicted);
            expected[j * step + k] = static_cast<unsigned char>(next);
          }
          left = next, upperLeft = above;
        }
        ASSERT_EQ(unfilterScanline(recon.data(), raw.data(), prior.data(), step, raw.size(), 4), 0);
        if (recon != expected) {
          ++failures;
          const size_t at = std::mismatch(recon.begin(), recon.end(), expected.begin()).first - recon.begin();
          ADD_FAILURE() << "step " << step << " b " << b << " c " << c << ": byte " << at << " is "
                        << int(recon[at]) << ", expected " << int(expected[at]);
        }
      }
    }
  }
}

TEST(PngFilters, UnfilterEachTypeWithAndWithoutPriorLine) {
  const Bytes raw = {200, 100, 60, 250};
  const Bytes prior = {200, 10, 255, 1};
  const struct {
    unsigned type;
    bool withPrior;
    Bytes expected;  // step 2
  } cases[] = {
      {0, true, {200, 100, 60, 250}},
      {1, true, {200, 100, 4, 94}},
      {2, true, {144, 110, 59, 251}},
      {3, true, {44, 105, 209, 47}},  // (44 + 255) / 2 = 149: the sum does not wrap
      {4, true, {144, 110, 4, 104}},
      {2, false, {200, 100, 60, 250}},
      {3, false, {200, 100, 160, 44}},
      {4, false, {200, 100, 4, 94}},
  };
  for (const auto& c : cases) {
    Bytes recon(raw.size());
    ASSERT_EQ(unfilterScanline(recon.data(), raw.data(), c.withPrior ? prior.data() : nullptr, 2, raw.size(), c.type), 0);
    EXPECT_EQ(recon, c.expected) << "type " << c.type << (c.withPrior ? " with" : " without") << " prior";
  }
  Bytes recon(raw.size());
  for (unsigned type : {5u, 6u, 255u})
    EXPECT_EQ(unfilterScanline(recon.data(), raw.data(), prior.data(), 2, raw.size(), type), 36);
}

}  // namespace
