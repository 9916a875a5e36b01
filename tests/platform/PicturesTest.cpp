// The pictures service against an independent decoder (ImageMagick) on files
// made here: GIF placement, colour tables, interlacing and transparency; JPEG
// grey, colour, progressive and CMYK; PNG refused by the picture loader and
// made premultiplied by the bitmap decoder; the stretch's orientation and fill.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Pictures.h"
#include "platform/PicturesTesting.h"
#include "platform/PictureFixtures.h"
#include "platform/PictureChecks.h"

namespace {

using fixtures::Bytes;
using fixtures::Rgb;

// A colour no test picture uses, so untouched target pixels are recognisable.
constexpr uint8_t Sentinel[4] = {0x11, 0x22, 0x33, 0x44};

std::vector<uint8_t> SentinelTarget(int width, int height) {
  std::vector<uint8_t> pixels(size_t(width) * height * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) std::memcpy(&pixels[i], Sentinel, 4);
  return pixels;
}

// Target pixel (x, y), y counted from the top of the bottom-up buffer.
const uint8_t* At(const std::vector<uint8_t>& target, int width, int height, int x, int y) {
  return target.data() + (size_t(height - 1 - y) * width + x) * 4;
}

// Draws the picture at its own size and compares every pixel with the
// reference: opaque ones by colour (within tolerance), transparent ones must
// keep the sentinel.
void ExpectMatchesReference(const Bytes& file, const char* extension, int tolerance) {
  fixtures::TempDir dir;
  const std::string path = dir.File(std::string("picture.") + extension);
  ASSERT_TRUE(fixtures::WriteFile(path, file));

  Picture* picture = LoadPicture(file.data(), file.size());
  ASSERT_NE(picture, nullptr);
  const int width = PictureWidth(picture);
  const int height = PictureHeight(picture);
  const Bytes reference = fixtures::ReferenceDecode(path, width, height);
  ASSERT_FALSE(reference.empty()) << "convert gave no " << width << "x" << height << " image";

  std::vector<uint8_t> target = SentinelTarget(width, height);
  RenderPicture(picture, PixelTarget{target.data(), width, height},
                TargetRect{0, 0, width, height});
  ReleasePicture(picture);

  int mismatches = 0;
  for (int y = 0; y < height && mismatches < 5; ++y) {
    for (int x = 0; x < width && mismatches < 5; ++x) {
      const uint8_t* ref = &reference[(size_t(y) * width + x) * 4];
      const uint8_t* got = At(target, width, height, x, y);
      if (ref[3] == 0) {
        if (std::memcmp(got, Sentinel, 4) != 0) {
          ++mismatches;
          ADD_FAILURE() << "(" << x << "," << y << ") should be left untouched";
        }
        continue;
      }
      const bool close = std::abs(got[2] - ref[0]) <= tolerance &&
                         std::abs(got[1] - ref[1]) <= tolerance &&
                         std::abs(got[0] - ref[2]) <= tolerance && got[3] == 0;
      if (!close) {
        ++mismatches;
        ADD_FAILURE() << "(" << x << "," << y << ") BGRX " << int(got[0]) << "," << int(got[1])
                      << "," << int(got[2]) << "," << int(got[3]) << " reference RGB "
                      << int(ref[0]) << "," << int(ref[1]) << "," << int(ref[2]);
      }
    }
  }
}

std::vector<Rgb> Palette(int count, uint32_t seed) {
  const auto noise = fixtures::Noise(size_t(count) * 3, seed);
  std::vector<Rgb> colours(count);
  for (int i = 0; i < count; ++i) colours[i] = Rgb{noise[i * 3], noise[i * 3 + 1], noise[i * 3 + 2]};
  return colours;
}

std::vector<uint8_t> Indices(int width, int height, int colours, uint32_t seed) {
  auto indices = fixtures::Noise(size_t(width) * height, seed);
  for (auto& i : indices) i %= colours;
  return indices;
}

struct GifCase {
  const char* name;
  fixtures::GifImage gif;
};

fixtures::GifImage BaseGif(int width, int height) {
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = width;
  gif.screenHeight = gif.height = height;
  gif.globalColours = Palette(16, 7);
  gif.indices = Indices(width, height, 16, 11);
  return gif;
}

std::vector<GifCase> GifCases() {
  std::vector<GifCase> cases;
  cases.push_back({"plain", BaseGif(23, 17)});

  // 13 rows: every pass of the interlace is short of a full group of 8.
  GifCase interlaced{"interlaced", BaseGif(19, 13)};
  interlaced.gif.interlaced = true;
  cases.push_back(interlaced);

  // A local table different from the global one, the image offset on a
  // larger screen: the uncovered screen is transparent.
  GifCase offset{"local table, offset", BaseGif(30, 20)};
  offset.gif.left = 7;
  offset.gif.top = 5;
  offset.gif.width = 12;
  offset.gif.height = 9;
  offset.gif.localColours = Palette(8, 99);
  offset.gif.indices = Indices(12, 9, 8, 5);
  cases.push_back(offset);

  GifCase transparent{"transparent index", BaseGif(16, 16)};
  transparent.gif.transparentIndex = 3;
  cases.push_back(transparent);

  // Only the first image of an animation counts.
  GifCase animated{"first of three images", BaseGif(10, 6)};
  animated.gif.imageCount = 3;
  cases.push_back(animated);

  GifCase everything{"interlaced, local, offset, transparent", BaseGif(40, 30)};
  everything.gif.left = 3;
  everything.gif.top = 9;
  everything.gif.width = 25;
  everything.gif.height = 21;
  everything.gif.interlaced = true;
  everything.gif.localColours = Palette(32, 1234);
  everything.gif.indices = Indices(25, 21, 32, 77);
  everything.gif.transparentIndex = 0;
  cases.push_back(everything);
  return cases;
}

TEST(PictureLoader, GifDecodesAsTheReferenceDoes) {
  for (const GifCase& c : GifCases()) {
    SCOPED_TRACE(c.name);
    const Bytes file = fixtures::MakeGif(c.gif);
    ASSERT_FALSE(file.empty());
    ExpectMatchesReference(file, "gif", 0);
  }
}

TEST(PictureLoader, GifTransparentPixelsLeaveTheTargetUntouched) {
  // Index 1 is transparent in a 2x2 image whose top-right pixel uses it.
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = 2;
  gif.screenHeight = gif.height = 2;
  gif.globalColours = {Rgb{255, 0, 0}, Rgb{0, 255, 0}, Rgb{0, 0, 255}, Rgb{9, 9, 9}};
  gif.indices = {0, 1, 2, 3};
  gif.transparentIndex = 1;
  const Bytes file = fixtures::MakeGif(gif);
  Picture* picture = LoadPicture(file.data(), file.size());
  ASSERT_NE(picture, nullptr);
  std::vector<uint8_t> target = SentinelTarget(2, 2);
  RenderPicture(picture, PixelTarget{target.data(), 2, 2}, TargetRect{0, 0, 2, 2});
  ReleasePicture(picture);
  const uint8_t red[4] = {0, 0, 255, 0}, blue[4] = {255, 0, 0, 0}, grey[4] = {9, 9, 9, 0};
  EXPECT_EQ(0, std::memcmp(At(target, 2, 2, 0, 0), red, 4));
  EXPECT_EQ(0, std::memcmp(At(target, 2, 2, 1, 0), Sentinel, 4));
  EXPECT_EQ(0, std::memcmp(At(target, 2, 2, 0, 1), blue, 4));
  EXPECT_EQ(0, std::memcmp(At(target, 2, 2, 1, 1), grey, 4));
}

struct JpegCase {
  const char* name;
  fixtures::JpegImage jpeg;
  int tolerance;
};

std::vector<JpegCase> JpegCases() {
  std::vector<JpegCase> cases;
  auto make = [](int width, int height, int components, J_COLOR_SPACE stored, bool progressive) {
    fixtures::JpegImage jpeg;
    jpeg.width = width;
    jpeg.height = height;
    jpeg.components = components;
    jpeg.stored = stored;
    jpeg.progressive = progressive;
    jpeg.samples = fixtures::Gradient(width, height, components);
    return jpeg;
  };
  cases.push_back({"greyscale", make(33, 21, 1, JCS_GRAYSCALE, false), 0});
  cases.push_back({"colour", make(40, 24, 3, JCS_YCbCr, false), 0});
  cases.push_back({"progressive colour", make(37, 29, 3, JCS_YCbCr, true), 0});
  cases.push_back({"progressive greyscale", make(16, 48, 1, JCS_GRAYSCALE, true), 0});
  // The writer puts an Adobe marker on CMYK and YCCK files, so their samples
  // count as inverted, as in the files of the usual prepress tools. Rounding
  // of the ink product may differ by one between decoders.
  cases.push_back({"CMYK", make(24, 24, 4, JCS_CMYK, false), 1});
  cases.push_back({"YCCK", make(24, 16, 4, JCS_YCCK, false), 1});
  cases.push_back({"progressive CMYK", make(20, 12, 4, JCS_CMYK, true), 1});
  return cases;
}

TEST(PictureLoader, JpegDecodesAsTheReferenceDoes) {
  for (const JpegCase& c : JpegCases()) {
    SCOPED_TRACE(c.name);
    const Bytes file = fixtures::MakeJpeg(c.jpeg);
    ASSERT_FALSE(file.empty());
    ExpectMatchesReference(file, "jpg", c.tolerance);
  }
}

Bytes ReadFile(const std::string& path) {
  Bytes bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(f);
  }
  return bytes;
}

TEST(PictureLoader, BmpDecodesAsTheReferenceDoes) {
  // Written by convert, so by an encoder that is not ours.
  const std::pair<const char*, const char*> cases[] = {
      {"24 bits", "-type TrueColor BMP3:"},
      {"8 bits", "-colors 200 -type Palette BMP3:"},
      {"4 bits", "-colors 16 -type Palette BMP3:"},
      {"1 bit", "-monochrome BMP3:"},
      {"16 bits 5-6-5 masks", "-define bmp:subtype=RGB565 BMP:"},
  };
  fixtures::TempDir dir;
  for (const auto& [name, options] : cases) {
    SCOPED_TRACE(name);
    const std::string path = dir.File("made.bmp");
    const std::string command = std::string("convert -size 13x7 gradient:orange-navy ") + options +
                                "'" + path + "' 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    ExpectMatchesReference(ReadFile(path), "bmp", 0);
  }
}

TEST(PictureLoader, BmpTopDown32BitsIgnoresTheFourthByte) {
  // 2x2, negative height: the first row in the file is the top.
  Bytes bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0,  // file header
               40, 0, 0, 0, 2, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF,    // size, width 2, height -2
               1, 0, 32, 0, 0, 0, 0, 0, 16, 0, 0, 0,               // planes, 32 bits, BI_RGB
               0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  const uint8_t pixels[16] = {1, 2, 3, 0, 4, 5, 6, 9, 7, 8, 9, 200, 10, 11, 12, 255};
  bmp.insert(bmp.end(), pixels, pixels + 16);
  Picture* picture = LoadPicture(bmp.data(), bmp.size());
  ASSERT_NE(picture, nullptr);
  std::vector<uint8_t> target = SentinelTarget(2, 2);
  RenderPicture(picture, PixelTarget{target.data(), 2, 2}, TargetRect{0, 0, 2, 2});
  ReleasePicture(picture);
  // Memory row 0 of the target is the bottom: the file's second row.
  const std::vector<uint8_t> expected = {7, 8, 9, 0, 10, 11, 12, 0, 1, 2, 3, 0, 4, 5, 6, 0};
  EXPECT_EQ(target, expected);
}

// PNG, empty, text and a GIF cut in its header are refused in
// PicturesAgreementTest, on every backend; these reach the Linux decoders'
// own checks.
TEST(PictureLoader, RefusesWhatIsNotGifOrJpeg) {
  picture_checks::ExpectNoPicture({
      {"PNG made by libpng", fixtures::MakePng(8, 8, fixtures::Noise(8 * 8 * 4, 3))},
      {"JPEG signature only", Bytes{0xFF, 0xD8, 0xFF, 0xE0, 0, 0}},
      {"GIF signature, no image", Bytes{'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0, 0, 0, 0x3B}},
      {"BMP header only", Bytes{'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0}},
  });
}

// A 2x2 BMP, 16 bits a pixel, with a header of headerSize bytes (at least 40)
// and the given compression; the masks, when wanted after a 40-byte header,
// follow it. Pixels follow the header at once.
Bytes Bmp16(uint32_t headerSize, uint32_t compression, bool masksAfterHeader) {
  auto le = [](Bytes& b, uint64_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  Bytes bmp = {'B', 'M'};
  le(bmp, 0, 4 + 4);  // file size, reserved
  const uint32_t pixelOffset = 14 + headerSize + (masksAfterHeader ? 12 : 0);
  le(bmp, pixelOffset, 4);
  le(bmp, headerSize, 4);
  le(bmp, 2, 4), le(bmp, 2, 4), le(bmp, 1, 2), le(bmp, 16, 2), le(bmp, compression, 4);
  bmp.resize(14 + headerSize, 0);
  if (masksAfterHeader || headerSize >= 52) {
    Bytes masks;
    le(masks, 0xF800, 4), le(masks, 0x07E0, 4), le(masks, 0x001F, 4);
    if (masksAfterHeader) {
      bmp.insert(bmp.end(), masks.begin(), masks.end());
    } else {
      std::copy(masks.begin(), masks.end(), bmp.begin() + 14 + 40);
    }
  }
  le(bmp, 0xF800, 2), le(bmp, 0x07E0, 2), le(bmp, 0x001F, 2), le(bmp, 0xFFFF, 2);
  return bmp;
}

TEST(PictureLoader, StatusSaysWhatBecameOfTheFile) {
  fixtures::JpegImage progressive = JpegCases()[2].jpeg;  // 37x29 progressive colour
  progressive.width = progressive.height = 64;
  progressive.samples = fixtures::Gradient(64, 64, 3);
  const Bytes progressiveJpeg = fixtures::MakeJpeg(progressive);
  const Bytes baselineJpeg = fixtures::MakeJpeg(JpegCases()[1].jpeg);
  const Bytes cmykJpeg = fixtures::MakeJpeg(JpegCases()[4].jpeg);
  const Bytes gif = fixtures::MakeGif(GifCases()[0].gif);
  const Bytes interlacedGif = fixtures::MakeGif(GifCases()[1].gif);
  auto cut = [](const Bytes& b, double share) { return Bytes(b.begin(), b.begin() + size_t(b.size() * share)); };

  struct Case {
    const char* name;
    Bytes bytes;
    PictureStatus status;
  };
  const Case cases[] = {
      {"whole GIF", gif, PictureStatus::Whole},
      {"whole baseline JPEG", baselineJpeg, PictureStatus::Whole},
      {"whole progressive JPEG", progressiveJpeg, PictureStatus::Whole},
      {"whole 5-6-5 BMP, masks in a 52-byte header", Bmp16(52, 3, false), PictureStatus::Whole},
      {"whole 5-6-5 BMP, masks after a 40-byte header", Bmp16(40, 3, true), PictureStatus::Whole},
      // Cut short: a torn picture helps nobody, except a progressive JPEG
      // whose coarse scans already cover the whole picture.
      {"GIF cut in its image data", cut(gif, 0.6), PictureStatus::Unreadable},
      {"interlaced GIF cut in its image data", cut(interlacedGif, 0.6), PictureStatus::Unreadable},
      {"baseline JPEG cut in half", cut(baselineJpeg, 0.5), PictureStatus::Unreadable},
      {"CMYK JPEG cut in half", cut(cmykJpeg, 0.5), PictureStatus::Unreadable},
      {"progressive JPEG cut in its refinements", cut(progressiveJpeg, 0.9), PictureStatus::Damaged},
      {"JPEG cut in its header", cut(baselineJpeg, 0.05), PictureStatus::Unreadable},
      {"BMP cut in its pixels", cut(Bmp16(40, 0, false), 0.9), PictureStatus::Unreadable},
      // The masks of a 41- to 51-byte header would lie partly past it.
      {"BMP bit fields in a 44-byte header", Bmp16(44, 3, false), PictureStatus::Unreadable},
      {"BMP bit fields in a 51-byte header", Bmp16(51, 3, false), PictureStatus::Unreadable},
      {"58-byte BMP ending with its 44-byte header", cut(Bmp16(44, 3, false), 58.0 / 66), PictureStatus::Unreadable},
      {"BMP bit fields, no masks after a 40-byte header", cut(Bmp16(40, 3, false), 0.99), PictureStatus::Unreadable},
      {"BMP run-length compressed", Bmp16(40, 1, false), PictureStatus::Unreadable},
      {"PNG", fixtures::MakePng(4, 4, fixtures::Noise(64, 2)), PictureStatus::NotAPicture},
      {"empty", {}, PictureStatus::NotAPicture},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Exactly the bytes of the file on the heap, so that a read past them is
    // caught by AddressSanitizer.
    std::vector<uint8_t> exact(c.bytes.begin(), c.bytes.end());
    PictureStatus status = PictureStatus::Whole;
    Picture* picture = LoadPicture(exact.data(), exact.size(), &status);
    EXPECT_EQ(int(status), int(c.status));
    const bool drawable = c.status == PictureStatus::Whole || c.status == PictureStatus::Damaged;
    EXPECT_EQ(picture != nullptr, drawable);
    ReleasePicture(picture);
  }
}

TEST(PictureLoader, BmpMasksAreReadFromWhereverTheHeaderPutsThem) {
  // The same pixels by masks in the header and after it: pure red, green,
  // blue and white.
  for (const bool after : {false, true}) {
    SCOPED_TRACE(after ? "after a 40-byte header" : "in a 52-byte header");
    const Bytes bmp = Bmp16(after ? 40 : 52, 3, after);
    Picture* picture = LoadPicture(bmp.data(), bmp.size());
    ASSERT_NE(picture, nullptr);
    std::vector<uint8_t> target = SentinelTarget(2, 2);
    RenderPicture(picture, PixelTarget{target.data(), 2, 2}, TargetRect{0, 0, 2, 2});
    ReleasePicture(picture);
    // Bottom-up file into a bottom-up target: memory order is kept.
    const std::vector<uint8_t> expected = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0};
    EXPECT_EQ(target, expected);
  }
}

TEST(PictureLoader, DamagedFilesNeverCrash) {
  // Cut a JPEG and a GIF at many lengths and flip bytes: each either loads or
  // is refused, and a loaded one draws within its target.
  std::vector<Bytes> files = {
      fixtures::MakeJpeg(JpegCases()[2].jpeg),
      fixtures::MakeJpeg(JpegCases()[4].jpeg),
      fixtures::MakeGif(GifCases()[5].gif),
      Bmp16(52, 3, false),
  };
  for (const Bytes& whole : files) {
    for (size_t cut = 0; cut < whole.size(); cut += 1 + whole.size() / 97) {
      std::vector<uint8_t> bytes(whole.begin(), whole.begin() + cut);  // heap: overreads show
      if (cut > 20 && cut % 2) bytes[cut / 2] ^= 0x5A;
      Picture* picture = LoadPicture(bytes.data(), bytes.size());
      if (picture) {
        std::vector<uint8_t> target = SentinelTarget(8, 8);
        RenderPicture(picture, PixelTarget{target.data(), 8, 8}, TargetRect{0, 0, 8, 8});
      }
      ReleasePicture(picture);
    }
  }
}

TEST(PictureLoader, StretchIsUprightAndFillsTheRectangle) {
  // A 4x2 picture, twice as wide as high, with four coloured columns over
  // two rows; drawn into an 8x8 square it fills every pixel.
  fixtures::GifImage gif;
  gif.screenWidth = gif.width = 4;
  gif.screenHeight = gif.height = 2;
  gif.globalColours = {Rgb{10, 0, 0}, Rgb{20, 0, 0}, Rgb{30, 0, 0}, Rgb{40, 0, 0},
                       Rgb{0, 50, 0}, Rgb{0, 60, 0}, Rgb{0, 70, 0}, Rgb{0, 80, 0}};
  gif.indices = {0, 1, 2, 3, 4, 5, 6, 7};
  const Bytes file = fixtures::MakeGif(gif);
  Picture* picture = LoadPicture(file.data(), file.size());
  ASSERT_NE(picture, nullptr);
  EXPECT_EQ(PictureWidth(picture), 4);
  EXPECT_EQ(PictureHeight(picture), 2);
  std::vector<uint8_t> target = SentinelTarget(8, 8);
  RenderPicture(picture, PixelTarget{target.data(), 8, 8}, TargetRect{0, 0, 8, 8});
  ReleasePicture(picture);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      SCOPED_TRACE(testing::Message() << "(" << x << "," << y << ")");
      const uint8_t* px = At(target, 8, 8, x, y);
      const int index = (y / 4) * 4 + x / 2;  // top half row 0, two columns a source pixel
      const Rgb& c = gif.globalColours[index];
      EXPECT_EQ(px[2], c.r);
      EXPECT_EQ(px[1], c.g);
      EXPECT_EQ(px[0], c.b);
    }
  }
  // Memory row 0 is the bottom of the picture: the second source row.
  EXPECT_EQ(target[1], 50);
}

TEST(PictureLoader, StretchClipsToTheTarget) {
  fixtures::GifImage gif = BaseGif(5, 5);
  const Bytes file = fixtures::MakeGif(gif);
  Picture* picture = LoadPicture(file.data(), file.size());
  ASSERT_NE(picture, nullptr);
  // A 6x6 target inside a larger buffer: the rows around it must stay as they were.
  std::vector<uint8_t> buffer = SentinelTarget(6, 10);
  const PixelTarget target{buffer.data() + 6 * 4 * 2, 6, 6};
  RenderPicture(picture, target, TargetRect{-3, -4, 9, 8});
  RenderPicture(picture, target, TargetRect{4, 4, 2, 2});  // inverted: draws nothing
  ReleasePicture(picture);
  for (int i = 0; i < 6 * 2; ++i) {
    EXPECT_EQ(0, std::memcmp(&buffer[i * 4], Sentinel, 4)) << "below, pixel " << i;
    EXPECT_EQ(0, std::memcmp(&buffer[(6 * 8 + i) * 4], Sentinel, 4)) << "above, pixel " << i;
  }
  for (int i = 6 * 2; i < 6 * 8; ++i) {
    EXPECT_NE(0, std::memcmp(&buffer[i * 4], Sentinel, 4)) << "inside, pixel " << i;
  }
}

TEST(PngBitmapDecoder, MakesPremultipliedBgraOfOneFrame) {
  const int width = 7, height = 5;
  std::vector<uint8_t> rgba = fixtures::Noise(size_t(width) * height * 4, 42);
  rgba[3] = 0;    // fully transparent
  rgba[7] = 255;  // fully opaque
  rgba[11] = 128;
  for (const bool withAlpha : {true, false}) {
    SCOPED_TRACE(withAlpha ? "RGBA" : "RGB");
    picture_checks::ExpectPremultipliedBitmap(fixtures::MakePng(width, height, rgba, withAlpha), width, height,
                                              rgba, withAlpha);
  }
}

// A GIF, nothing and a PNG cut in its image data are refused in
// PicturesAgreementTest, on every backend; libpng's own files are here.
TEST(PngBitmapDecoder, RefusesWhatIsNoPng) {
  const Bytes png = fixtures::MakePng(16, 16, fixtures::Noise(16 * 16 * 4, 1));
  picture_checks::ExpectNoPngBitmap({
      {"GIF made by giflib", fixtures::MakeGif(BaseGif(4, 4))},
      {"signature only", Bytes(png.begin(), png.begin() + 8)},
      {"libpng's PNG cut in its image data", Bytes(png.begin(), png.begin() + png.size() / 2), true},
  });
}

TEST(PngBitmapDecoder, CreationFailureSetsErrno) {
  SetPngBitmapDecoderCreationFails(true);
  errno = 0;
  EXPECT_EQ(CreatePngBitmapDecoder(), nullptr);
  EXPECT_EQ(errno, ENOMEM);
  SetPngBitmapDecoderCreationFails(false);
  PngBitmapDecoder* decoder = CreatePngBitmapDecoder();
  EXPECT_NE(decoder, nullptr);
  ReleasePngBitmapDecoder(decoder);
}

}  // namespace
