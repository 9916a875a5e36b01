// Test pictures made at test time (giflib, libjpeg, libpng write them into
// memory) and reference decodes by ImageMagick's convert, a decoder
// independent of ours. Header-only: tests/platform, tests/image and the
// benchmarks share it.
#pragma once

#include <gif_lib.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <jpeglib.h>

namespace fixtures {

using Bytes = std::vector<uint8_t>;

struct Rgb {
  uint8_t r, g, b;
};

struct GifImage {
  int screenWidth = 0, screenHeight = 0;
  std::vector<Rgb> globalColours;  // empty: no global table
  int left = 0, top = 0, width = 0, height = 0;
  std::vector<Rgb> localColours;  // empty: no local table
  bool interlaced = false;
  int transparentIndex = -1;      // -1: no graphic control extension
  std::vector<uint8_t> indices;   // width * height, rows top to bottom
  int imageCount = 1;             // further images repeat the first, shifted colours
};

inline int GifWrite(GifFileType* gif, const GifByteType* data, int count) {
  auto* out = static_cast<Bytes*>(gif->UserData);
  out->insert(out->end(), data, data + count);
  return count;
}

inline ColorMapObject* MakeMap(const std::vector<Rgb>& colours) {
  if (colours.empty()) return nullptr;
  int size = 2;
  while (size < static_cast<int>(colours.size())) size *= 2;
  std::vector<GifColorType> table(size, GifColorType{0, 0, 0});
  for (size_t i = 0; i < colours.size(); ++i) {
    table[i] = GifColorType{colours[i].r, colours[i].g, colours[i].b};
  }
  return GifMakeMapObject(size, table.data());
}

inline Bytes MakeGif(const GifImage& layout) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, GifWrite, &error);
  if (!gif) return {};
  EGifSetGifVersion(gif, true);
  ColorMapObject* global = MakeMap(layout.globalColours);
  ColorMapObject* local = MakeMap(layout.localColours);
  EGifPutScreenDesc(gif, layout.screenWidth, layout.screenHeight, 8, 0, global);
  for (int n = 0; n < layout.imageCount; ++n) {
    if (layout.transparentIndex >= 0) {
      GraphicsControlBlock gcb{};
      gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
      gcb.DelayTime = 10;
      gcb.TransparentColor = layout.transparentIndex;
      GifByteType ext[4];
      EGifGCBToExtension(&gcb, ext);
      EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    }
    EGifPutImageDesc(gif, layout.left, layout.top, layout.width, layout.height, layout.interlaced, local);
    std::vector<GifPixelType> line(layout.width);
    auto putRow = [&](int row) {
      for (int x = 0; x < layout.width; ++x) {
        // Later images are the first with other indices, so that a decoder
        // showing the wrong one is caught.
        line[x] = static_cast<GifPixelType>((layout.indices[row * layout.width + x] + n) %
                                            std::max<size_t>(1, layout.localColours.empty()
                                                                    ? layout.globalColours.size()
                                                                    : layout.localColours.size()));
      }
      EGifPutLine(gif, line.data(), layout.width);
    };
    if (layout.interlaced) {
      const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass) {
        for (int row = start[pass]; row < layout.height; row += step[pass]) putRow(row);
      }
    } else {
      for (int row = 0; row < layout.height; ++row) putRow(row);
    }
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(global);
  GifFreeMapObject(local);
  return out;
}

struct JpegImage {
  int width = 0, height = 0;
  int components = 3;                 // 1 grey, 3 RGB, 4 CMYK
  J_COLOR_SPACE stored = JCS_YCbCr;   // colour space in the file
  bool progressive = false;
  int quality = 90;
  std::vector<uint8_t> samples;       // width * height * components
};

inline Bytes MakeJpeg(const JpegImage& layout) {
  jpeg_compress_struct info;
  jpeg_error_mgr err;
  info.err = jpeg_std_error(&err);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = layout.width;
  info.image_height = layout.height;
  info.input_components = layout.components;
  info.in_color_space = layout.components == 1 ? JCS_GRAYSCALE
                        : layout.components == 4 ? JCS_CMYK
                                               : JCS_RGB;
  jpeg_set_defaults(&info);
  jpeg_set_colorspace(&info, layout.stored);  // CMYK and YCCK get an Adobe marker
  jpeg_set_quality(&info, layout.quality, TRUE);
  if (layout.progressive) jpeg_simple_progression(&info);
  jpeg_start_compress(&info, TRUE);
  const size_t stride = size_t(layout.width) * layout.components;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(layout.samples.data()) + info.next_scanline * stride;
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  Bytes out(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return out;
}

// RGBA rows top to bottom into a PNG of colour type RGBA (or RGB when opaque).
inline Bytes MakePng(int width, int height, const std::vector<uint8_t>& rgba, bool withAlpha = true) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = withAlpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  std::vector<uint8_t> source;
  if (withAlpha) {
    source = rgba;
  } else {
    for (size_t i = 0; i < rgba.size(); i += 4) source.insert(source.end(), &rgba[i], &rgba[i] + 3);
  }
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&image, nullptr, &size, 0, source.data(), 0, nullptr);
  Bytes out(size);
  if (!png_image_write_to_memory(&image, out.data(), &size, 0, source.data(), 0, nullptr)) return {};
  out.resize(size);
  return out;
}

// A private folder for one test's files, removed with its contents at the end.
class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/imagetestXXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline bool WriteFile(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// The first image of the file as ImageMagick sees it, flattened onto its
// logical screen with transparent background: RGBA rows top to bottom.
// Empty when convert fails.
inline Bytes ReferenceDecode(const std::string& path, int width, int height) {
  const std::string command = "convert '" + path +
                              "[0]' -background none -flatten -depth 8 rgba:- 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return {};
  Bytes out(size_t(width) * height * 4 + 1);
  const size_t got = std::fread(out.data(), 1, out.size(), pipe);
  pclose(pipe);
  if (got != size_t(width) * height * 4) return {};
  out.resize(got);
  return out;
}

// Deterministic pseudo-random bytes for picture content.
inline std::vector<uint8_t> Noise(size_t count, uint32_t seed) {
  std::vector<uint8_t> out(count);
  for (auto& b : out) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(seed >> 24);
  }
  return out;
}

// A smooth gradient: JPEG keeps it close, so colours stay recognisable.
inline std::vector<uint8_t> Gradient(int width, int height, int components) {
  std::vector<uint8_t> out(size_t(width) * height * components);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < components; ++c) {
        out[(size_t(y) * width + x) * components + c] =
            static_cast<uint8_t>((x * 255 / std::max(1, width - 1)) * (c % 2 == 0) +
                                 (y * 255 / std::max(1, height - 1)) * (c % 2 == 1) + 40 * c);
      }
    }
  }
  return out;
}

}  // namespace fixtures
