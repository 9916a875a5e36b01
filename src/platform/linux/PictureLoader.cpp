// Pictures service, picture loader backend: giflib for GIF, libjpeg-turbo for
// JPEG, our own reader for uncompressed BMP, and the nearest-neighbour stretch
// that draws pictures and bitmaps into 32-bit bottom-up pixel buffers.
//
// A picture is decoded in full when it is loaded and kept as BGRA bytes whose
// alpha is only ever 0 (transparent: the target keeps its pixel) or 255. The
// loader is silent: a refused or damaged file gives a null picture, and the
// caller decides what to say.
//
// Limits: GIF gives its first image only (no animation, no disposal); JPEG
// colour is converted without colour management (no ICC profiles); BMP
// run-length compression is refused. Pictures
// of more than MaxPicturePixels pixels are refused rather than risk an
// allocation of many gigabytes from a forged header.
#include "platform/Pictures.h"

#include <cstdio>  // jpeglib.h needs FILE declared first

#include <gif_lib.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>

struct Picture {
  int width = 0;
  int height = 0;
  bool hasTransparency = false;
  std::vector<uint8_t> bgra;  // rows top to bottom, alpha 0 or 255
};

namespace {

// 256 Mi pixels (1 GiB of BGRA): far beyond any picture the demo ships, small
// enough that a forged header cannot ask for the whole address space.
constexpr uint64_t MaxPicturePixels = uint64_t(1) << 28;

bool AllocatePicture(Picture& picture, int width, int height) {
  if (width <= 0 || height <= 0) return false;
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  if (pixels > MaxPicturePixels) return false;
  try {
    picture.bgra.assign(pixels * 4, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  picture.width = width;
  picture.height = height;
  return true;
}

// ===========================================================================
// GIF

struct GifInput {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int ReadGifBytes(GifFileType* gif, GifByteType* out, int wanted) {
  auto* in = static_cast<GifInput*>(gif->UserData);
  const size_t left = in->size - in->pos;
  const size_t count = std::min(left, static_cast<size_t>(std::max(wanted, 0)));
  std::memcpy(out, in->data + in->pos, count);
  in->pos += count;
  return static_cast<int>(count);
}

// Skips the sub-blocks of an extension, noting the transparent index of a
// graphic control extension. False on a read error.
bool ReadGifExtension(GifFileType* gif, int& transparentIndex) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
    GraphicsControlBlock gcb;
    if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) {
      transparentIndex = gcb.TransparentColor;  // NO_TRANSPARENT_COLOR is -1
    }
  }
  while (block) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
  }
  return true;
}

// Reads the first image's rows into picture, the image placed at its offset on
// the logical screen. Rows that cannot be read (a truncated file) stay
// transparent: a damaged tail costs only the missing rows. Returns how many
// pixels were made opaque; each screen pixel is written at most once.
uint64_t ReadGifImage(GifFileType* gif, Picture& picture, int transparentIndex) {
  const GifImageDesc& desc = gif->Image;
  const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  const int width = desc.Width;
  const int height = desc.Height;
  std::vector<GifPixelType> line(static_cast<size_t>(std::max(width, 1)));

  // Interlaced images arrive in four passes: every 8th row from 0, every 8th
  // from 4, every 4th from 2, every 2nd from 1.
  static const int passStart[4] = {0, 4, 2, 1};
  static const int passStep[4] = {8, 8, 4, 2};
  const int passes = desc.Interlace ? 4 : 1;
  uint64_t opaque = 0;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = desc.Interlace ? passStart[pass] : 0;
    const int step = desc.Interlace ? passStep[pass] : 1;
    for (int row = start; row < height; row += step) {
      if (DGifGetLine(gif, line.data(), width) != GIF_OK) return opaque;
      const int y = desc.Top + row;
      if (y < 0 || y >= picture.height) continue;
      uint8_t* out = picture.bgra.data() + size_t(y) * picture.width * 4;
      for (int col = 0; col < width; ++col) {
        const int x = desc.Left + col;
        if (x < 0 || x >= picture.width) continue;
        const int index = line[col];
        if (index == transparentIndex) continue;  // stays transparent
        uint8_t* px = out + size_t(x) * 4;
        if (map && index < map->ColorCount) {
          const GifColorType& c = map->Colors[index];
          px[0] = c.Blue;
          px[1] = c.Green;
          px[2] = c.Red;
        } else {
          px[0] = px[1] = px[2] = 0;  // an index past the table: black
        }
        px[3] = 255;
        ++opaque;
      }
    }
  }
  return opaque;
}

Picture* LoadGif(const uint8_t* data, size_t size) {
  GifInput input{data, size, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&input, ReadGifBytes, &error);
  if (!gif) return nullptr;

  Picture* result = nullptr;
  int transparentIndex = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) != GIF_OK) break;
    if (type == EXTENSION_RECORD_TYPE) {
      if (!ReadGifExtension(gif, transparentIndex)) break;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) break;  // trailer before any image
    if (DGifGetImageDesc(gif) != GIF_OK) break;
    // The logical screen gives the picture's size; a file that leaves it 0
    // gets the extent of its image instead.
    int width = gif->SWidth;
    int height = gif->SHeight;
    if (width <= 0 || height <= 0) {
      width = gif->Image.Left + gif->Image.Width;
      height = gif->Image.Top + gif->Image.Height;
    }
    auto* picture = new (std::nothrow) Picture;
    if (!picture) break;
    if (!AllocatePicture(*picture, width, height)) {
      delete picture;
      break;
    }
    // Uncovered screen, a used transparent index or missing rows leave holes.
    const uint64_t opaque = ReadGifImage(gif, *picture, transparentIndex);
    picture->hasTransparency = opaque != uint64_t(width) * uint64_t(height);
    result = picture;
    break;
  }
  DGifCloseFile(gif, &error);
  return result;
}

// ===========================================================================
// JPEG

struct JpegErrorTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  auto* trap = reinterpret_cast<JpegErrorTrap*>(info->err);
  std::longjmp(trap->jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

inline uint8_t MulDiv255(unsigned a, unsigned b) { return uint8_t((a * b + 127) / 255); }

// Fills picture from an already started decompression. CMYK arrives as four
// bytes a pixel; files with an Adobe marker store it inverted (0 is full ink),
// which is what nearly every CMYK JPEG in the wild does.
void ReadJpegRows(jpeg_decompress_struct& info, Picture& picture, bool cmyk, bool inverted) {
  std::vector<uint8_t> cmykRow(cmyk ? size_t(picture.width) * 4 : 0);
  while (info.output_scanline < info.output_height) {
    uint8_t* out = picture.bgra.data() + size_t(info.output_scanline) * picture.width * 4;
    JSAMPROW row = cmyk ? cmykRow.data() : out;
    if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
    if (!cmyk) continue;
    for (int x = 0; x < picture.width; ++x) {
      unsigned c = cmykRow[x * 4 + 0], m = cmykRow[x * 4 + 1];
      unsigned y = cmykRow[x * 4 + 2], k = cmykRow[x * 4 + 3];
      if (!inverted) {
        c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
      }
      // Now each value is the share of paper left: colour = (1-ink)(1-black).
      out[x * 4 + 0] = MulDiv255(y, k);
      out[x * 4 + 1] = MulDiv255(m, k);
      out[x * 4 + 2] = MulDiv255(c, k);
      out[x * 4 + 3] = 255;
    }
  }
}

Picture* LoadJpeg(const uint8_t* data, size_t size) {
  jpeg_decompress_struct info;
  JpegErrorTrap trap;
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = JpegErrorExit;
  trap.manager.emit_message = JpegSilence;

  Picture* picture = new (std::nothrow) Picture;
  if (!picture) return nullptr;
  // Everything the jump may land on was set before setjmp and is not changed
  // after it, so no local needs to be volatile.
  if (setjmp(trap.jump)) {
    jpeg_destroy_decompress(&info);
    delete picture;
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&info);
    delete picture;
    return nullptr;
  }
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  const bool inverted = cmyk && info.saw_Adobe_marker;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_calc_output_dimensions(&info);
  if (!AllocatePicture(*picture, int(info.output_width), int(info.output_height))) {
    jpeg_destroy_decompress(&info);
    delete picture;
    return nullptr;
  }
  jpeg_start_decompress(&info);
  ReadJpegRows(info, *picture, cmyk, inverted);
  // A file cut short still gives its complete rows; the rest were filled by
  // the library and the end marker is not insisted on.
  jpeg_abort_decompress(&info);
  jpeg_destroy_decompress(&info);
  return picture;
}

// ===========================================================================
// BMP
//
// Uncompressed Windows bitmaps: 1, 4 and 8 bits through a colour table, 16
// bits as 5-5-5 or by bit-field masks, 24 bits, 32 bits as blue, green, red
// and an ignored fourth byte or by masks. Rows bottom-up, or top-down for a
// negative height, each padded to 4 bytes. Run-length compressed files are
// refused. All pixels are opaque: the fourth byte of 32-bit files is not
// alpha to the picture loader.

uint32_t ReadLe(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// The bits of value under mask widened to 8 by repeating them (5 bits abcde
// give abcdeabc), so that 0 stays 0 and all ones become 255; wider fields
// keep their top 8 bits.
uint8_t MaskedChannel(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!(mask >> shift & 1)) ++shift;
  int bits = 0;
  while (bits < 32 - shift && (mask >> (shift + bits) & 1)) ++bits;
  const uint32_t field = (value >> shift) & ((uint64_t(1) << bits) - 1);
  if (bits >= 8) return uint8_t(field >> (bits - 8));
  uint32_t widened = 0;
  int filled = 0;
  while (filled < 8) {
    widened = widened << bits | field;
    filled += bits;
  }
  return uint8_t(widened >> (filled - 8));
}

Picture* LoadBmp(const uint8_t* data, size_t size) {
  constexpr uint32_t BiRgb = 0, BiBitfields = 3;
  if (size < 14 + 12) return nullptr;
  const uint32_t pixelOffset = ReadLe(data + 10, 4);
  const uint32_t headerSize = ReadLe(data + 14, 4);
  const uint8_t* header = data + 14;
  if (headerSize > size - 14) return nullptr;

  int64_t width = 0, height = 0;
  uint32_t bitCount = 0, compression = BiRgb, coloursUsed = 0;
  int paletteEntryBytes = 4;
  if (headerSize == 12) {  // the old core header: 16-bit sizes, 3-byte colours
    width = ReadLe(header + 4, 2);
    height = ReadLe(header + 6, 2);
    bitCount = ReadLe(header + 10, 2);
    paletteEntryBytes = 3;
  } else if (headerSize >= 40) {
    width = int32_t(ReadLe(header + 4, 4));
    height = int32_t(ReadLe(header + 8, 4));
    bitCount = ReadLe(header + 14, 2);
    compression = ReadLe(header + 16, 4);
    coloursUsed = ReadLe(header + 32, 4);
  } else {
    return nullptr;
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return nullptr;

  // Masks: in the header from version 2 on, else after a 40-byte header.
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};  // 5-5-5 when not given
  if (bitCount == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  size_t tableStart = 14 + headerSize;
  if (compression == BiBitfields) {
    if (bitCount != 16 && bitCount != 32) return nullptr;
    const uint8_t* m = header + 40;
    if (headerSize == 40) {
      if (size < tableStart + 12) return nullptr;
      tableStart += 12;
    }
    for (int i = 0; i < 3; ++i) masks[i] = ReadLe(m + 4 * i, 4);
  } else if (compression != BiRgb) {
    return nullptr;
  }
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32) {
    return nullptr;
  }

  std::vector<uint8_t> palette;  // BGR triples
  if (bitCount <= 8) {
    const uint32_t entries = coloursUsed && coloursUsed < (1u << bitCount) ? coloursUsed
                                                                           : 1u << bitCount;
    palette.assign(size_t(1u << bitCount) * 3, 0);  // indices past the table: black
    for (uint32_t i = 0; i < entries; ++i) {
      const size_t at = tableStart + size_t(i) * paletteEntryBytes;
      if (at + 3 > size) break;
      std::memcpy(&palette[i * 3], data + at, 3);
    }
  }

  const size_t stride = (size_t(width) * bitCount + 31) / 32 * 4;
  if (pixelOffset > size || stride * size_t(height) > size - pixelOffset) return nullptr;
  auto* picture = new (std::nothrow) Picture;
  if (!picture) return nullptr;
  if (!AllocatePicture(*picture, int(width), int(height))) {
    delete picture;
    return nullptr;
  }
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* in = data + pixelOffset + size_t(topDown ? y : height - 1 - y) * stride;
    uint8_t* out = picture->bgra.data() + size_t(y) * width * 4;
    for (int64_t x = 0; x < width; ++x, out += 4) {
      out[3] = 255;
      if (bitCount <= 8) {
        const size_t bit = size_t(x) * bitCount;
        const unsigned index = (in[bit / 8] >> (8 - bitCount - bit % 8)) & ((1u << bitCount) - 1);
        std::memcpy(out, &palette[index * 3], 3);
      } else if (bitCount == 24) {
        std::memcpy(out, in + x * 3, 3);
      } else {
        const uint32_t value = ReadLe(in + x * (bitCount / 8), int(bitCount / 8));
        out[2] = MaskedChannel(value, masks[0]);
        out[1] = MaskedChannel(value, masks[1]);
        out[0] = MaskedChannel(value, masks[2]);
      }
    }
  }
  return picture;
}

// ===========================================================================
// Stretching

// Source index of each destination step: the source pixel under the centre of
// the destination pixel, so that both ends of the picture get their share.
std::vector<int> StretchMap(int destCount, int sourceCount) {
  std::vector<int> map(static_cast<size_t>(destCount));
  for (int i = 0; i < destCount; ++i) {
    map[i] = static_cast<int>((int64_t(2 * int64_t(i) + 1) * sourceCount) / (2 * int64_t(destCount)));
  }
  return map;
}

// Calls put(destPixel, sourcePixel) for every target pixel under rect,
// mapping source rows (top to bottom) upright onto the bottom-up target. When
// put writes every pixel whatever the target held (opaque), a row that shows
// the same source row as the row drawn before it is copied from that row:
// enlarging a small picture to a 4096 square then costs little more than the
// copies.
template <typename Put>
void Stretch(const uint8_t* source, int sourceWidth, int sourceHeight, const PixelTarget& target,
             const TargetRect& rect, bool opaque, Put put) {
  const int destWidth = rect.right - rect.left;
  const int destHeight = rect.bottom - rect.top;
  if (!source || !target.pixels || destWidth <= 0 || destHeight <= 0 || sourceWidth <= 0 ||
      sourceHeight <= 0) {
    return;
  }
  const int x0 = std::max(rect.left, 0);
  const int x1 = std::min(rect.right, target.width);
  const int y0 = std::max(rect.top, 0);
  const int y1 = std::min(rect.bottom, target.height);
  if (x0 >= x1 || y0 >= y1) return;

  const std::vector<int> columns = StretchMap(destWidth, sourceWidth);
  const std::vector<int> rows = StretchMap(destHeight, sourceHeight);
  const size_t sourceStride = size_t(sourceWidth) * 4;
  const size_t targetStride = size_t(target.width) * 4;
  const size_t spanBytes = size_t(x1 - x0) * 4;
  for (int y = y0; y < y1; ++y) {
    uint8_t* targetRow = target.pixels + size_t(target.height - 1 - y) * targetStride;
    if (opaque && y > y0 && rows[y - rect.top] == rows[y - 1 - rect.top]) {
      // The row drawn before lies one row higher in the bottom-up buffer.
      std::memcpy(targetRow + size_t(x0) * 4, targetRow + targetStride + size_t(x0) * 4, spanBytes);
      continue;
    }
    const uint8_t* sourceRow = source + size_t(rows[y - rect.top]) * sourceStride;
    for (int x = x0; x < x1; ++x) {
      put(targetRow + size_t(x) * 4, sourceRow + size_t(columns[x - rect.left]) * 4);
    }
  }
}

}  // namespace

Picture* LoadPicture(const uint8_t* data, size_t size) {
  if (!data || size < 6) return nullptr;
  if (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0) {
    return LoadGif(data, size);
  }
  if (data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return LoadJpeg(data, size);
  if (data[0] == 'B' && data[1] == 'M') return LoadBmp(data, size);
  return nullptr;  // PNG and everything else: not ours
}

int PictureWidth(const Picture* picture) { return picture ? picture->width : 0; }
int PictureHeight(const Picture* picture) { return picture ? picture->height : 0; }

void RenderPicture(const Picture* picture, const PixelTarget& target, const TargetRect& rect) {
  if (!picture) return;
  const uint8_t* source = picture->bgra.data();
  if (picture->hasTransparency) {
    Stretch(source, picture->width, picture->height, target, rect, false,
            [](uint8_t* dest, const uint8_t* src) {
              if (src[3] == 0) return;
              dest[0] = src[0], dest[1] = src[1], dest[2] = src[2], dest[3] = 0;
            });
  } else {
    Stretch(source, picture->width, picture->height, target, rect, true,
            [](uint8_t* dest, const uint8_t* src) {
              dest[0] = src[0], dest[1] = src[1], dest[2] = src[2], dest[3] = 0;
            });
  }
}

void ReleasePicture(Picture* picture) { delete picture; }

void StretchBitmap(const PremultipliedBitmap& bitmap, const PixelTarget& target,
                   const TargetRect& rect) {
  if (bitmap.width > INT32_MAX || bitmap.height > INT32_MAX) return;
  if (bitmap.pixels.size() < uint64_t(bitmap.width) * bitmap.height * 4) return;
  Stretch(bitmap.pixels.data(), int(bitmap.width), int(bitmap.height), target, rect, true,
          [](uint8_t* dest, const uint8_t* src) { std::memcpy(dest, src, 4); });
}
