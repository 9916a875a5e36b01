// PNG decoder: signature and header, chunk walk, inflate, unfilter, Adam7,
// conversion to RGBA.
//
// Each stage runs only when the ones before it succeeded, and the checks run in
// the order listed in PngDecoder.h. All sizes derived from the header are
// computed in 64 bits and refused when they do not fit in 32 (44), so no buffer
// is ever sized by an expression that wrapped. The unfiltered image is kept
// with each row padded to whole bytes, as the scanlines store it; low bit
// depths are unpacked from it directly during conversion.
#include "png/PngDecoder.h"

#include <algorithm>
#include <cstring>

#include "png/Inflate.h"

namespace {

constexpr unsigned char Signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};

// The pre-size of the scanline buffer is capped by what the compressed data
// could plausibly hold; the inflater grows the buffer past the cap when the
// data really is that compressible. This keeps a file that claims a huge image
// from committing gigabytes before its data has been seen.
constexpr uint64_t PresizeRatio = 64;
constexpr uint64_t PresizeFloor = uint64_t{16} << 20;

inline uint32_t readBigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline bool isType(const unsigned char* p, const char* type) { return std::memcmp(p, type, 4) == 0; }

unsigned bitsPerPixel(uint32_t colourType, uint32_t depth) {
  switch (colourType) {
    case 2: return 3 * depth;
    case 4: return 2 * depth;
    case 6: return 4 * depth;
    default: return depth;  // 0 and 3: one sample per pixel
  }
}

// 31 for an unknown colour type, 37 for a depth the colour type does not allow.
int checkColourAndDepth(uint32_t colourType, uint32_t depth) {
  switch (colourType) {
    case 0: return (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16) ? 0 : 37;
    case 2:
    case 4:
    case 6: return (depth == 8 || depth == 16) ? 0 : 37;
    case 3: return (depth == 1 || depth == 2 || depth == 4 || depth == 8) ? 0 : 37;
    default: return 31;
  }
}

struct Adam7Pass {
  uint32_t firstColumn, firstRow, columnStep, rowStep;
};
constexpr Adam7Pass Adam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

inline uint64_t passExtent(uint64_t size, uint32_t first, uint32_t step) {
  return size > first ? (size - first + step - 1) / step : 0;
}

inline uint64_t lineBytes(uint64_t pixels, unsigned bpp) { return (pixels * bpp + 7) / 8; }

// One image or pass: its size in pixels and where its scanlines start.
struct SubImage {
  uint64_t width, height, offset;
};

// The subimages in the order their scanlines follow each other: one for a
// plain image, up to seven passes for Adam7 (empty passes take no bytes and
// are left out). Returns the total scanline bytes.
uint64_t layoutScanlines(const PngState& state, unsigned bpp, SubImage* parts, int* passOf,
                         int& count) {
  count = 0;
  uint64_t total = 0;
  if (state.interlaceMethod == 0) {
    parts[0] = {state.width, state.height, 0};
    passOf[0] = -1;
    count = 1;
    return uint64_t{state.height} * (lineBytes(state.width, bpp) + 1);
  }
  for (int p = 0; p < 7; ++p) {
    const uint64_t w = passExtent(state.width, Adam7[p].firstColumn, Adam7[p].columnStep);
    const uint64_t h = passExtent(state.height, Adam7[p].firstRow, Adam7[p].rowStep);
    if (w == 0 || h == 0) continue;
    parts[count] = {w, h, total};
    passOf[count] = p;
    ++count;
    total += h * (lineBytes(w, bpp) + 1);
  }
  return total;
}

// Called only when the scanlines are shorter than the image needs: walks the
// rows in decoding order and reports what decoding would have met first, a bad
// filter type in a complete row (36) or the end of the data (45).
int shortDataError(const std::vector<unsigned char>& scanlines, const SubImage* parts, int count,
                   unsigned bpp) {
  for (int i = 0; i < count; ++i) {
    const uint64_t rowSize = lineBytes(parts[i].width, bpp) + 1;
    for (uint64_t y = 0; y < parts[i].height; ++y) {
      const uint64_t at = parts[i].offset + y * rowSize;
      if (at + rowSize > scanlines.size()) return 45;
      if (scanlines[at] > 4) return 36;
    }
  }
  return 45;
}

// Scatters whole-byte pixels of one pass line with their size known at
// compile time, so that each copy is a plain load and store.
template <size_t Bytes>
void scatterPixels(unsigned char* dst, const unsigned char* line, uint64_t passWidth, const Adam7Pass& pass) {
  unsigned char* out = dst + size_t{pass.firstColumn} * Bytes;
  const size_t stride = size_t{pass.columnStep} * Bytes;
  for (uint64_t i = 0; i < passWidth; ++i, out += stride, line += Bytes) std::memcpy(out, line, Bytes);
}

// Puts pixel i of an unfiltered pass line at (column, row) of the padded raw
// image.
void placePassLine(unsigned char* raw, size_t rawRowBytes, const unsigned char* line, uint64_t passWidth,
                   unsigned bpp, uint32_t row, const Adam7Pass& pass) {
  unsigned char* dst = raw + size_t{row} * rawRowBytes;
  switch (bpp) {
    case 8: return scatterPixels<1>(dst, line, passWidth, pass);
    case 16: return scatterPixels<2>(dst, line, passWidth, pass);
    case 24: return scatterPixels<3>(dst, line, passWidth, pass);
    case 32: return scatterPixels<4>(dst, line, passWidth, pass);
    case 48: return scatterPixels<6>(dst, line, passWidth, pass);
    case 64: return scatterPixels<8>(dst, line, passWidth, pass);
    default: break;  // below 8 bits
  }
  // Below 8 bits: pixels are bit fields, most significant bit first. The raw
  // image starts zeroed and every pixel is placed exactly once, so OR suffices.
  const unsigned mask = (1u << bpp) - 1;
  for (uint64_t i = 0; i < passWidth; ++i) {
    const uint64_t srcBit = i * bpp;
    const unsigned value = (line[srcBit >> 3] >> (8 - bpp - (srcBit & 7))) & mask;
    const uint64_t dstBit = (pass.firstColumn + pass.columnStep * i) * bpp;
    dst[dstBit >> 3] |= static_cast<unsigned char>(value << (8 - bpp - (dstBit & 7)));
  }
}

// Unfilters a plain image in place: row y moves from offset y * (n + 1) + 1
// to y * n, so each byte is written only after it has been read, and the
// filter bytes drop out. The scanlines become the padded raw image. Returns 0
// or 36.
int unfilterInPlace(std::vector<unsigned char>& scanlines, const PngState& state, unsigned bpp) {
  const size_t step = std::max(1u, bpp / 8);
  const size_t rowBytes = lineBytes(state.width, bpp);
  unsigned char* const base = scanlines.data();
  const unsigned char* prior = nullptr;
  for (uint32_t y = 0; y < state.height; ++y) {
    const unsigned char* src = base + size_t{y} * (rowBytes + 1);
    unsigned char* dst = base + size_t{y} * rowBytes;
    const int error = unfilterScanline(dst, src + 1, prior, step, rowBytes, src[0]);
    if (error) return error;
    prior = dst;
  }
  scanlines.resize(size_t{state.height} * rowBytes);
  return 0;
}

// Unfilters the passes of an Adam7 image into the padded raw image (zeroed
// by the caller). Returns 0 or 36.
int unfilterPasses(std::vector<unsigned char>& raw, const std::vector<unsigned char>& scanlines,
                   const PngState& state, unsigned bpp, const SubImage* parts, const int* passOf, int count) {
  const size_t step = std::max(1u, bpp / 8);
  const size_t rawRowBytes = lineBytes(state.width, bpp);
  std::vector<unsigned char> lines[2];
  for (int i = 0; i < count; ++i) {
    const Adam7Pass& pass = Adam7[passOf[i]];
    const size_t passRowBytes = lineBytes(parts[i].width, bpp);
    lines[0].assign(passRowBytes, 0);
    lines[1].assign(passRowBytes, 0);
    const unsigned char* src = scanlines.data() + parts[i].offset;
    const unsigned char* prior = nullptr;
    for (uint64_t y = 0; y < parts[i].height; ++y) {
      unsigned char* line = lines[y & 1].data();
      const int error = unfilterScanline(line, src + 1, prior, step, passRowBytes, src[0]);
      if (error) return error;
      placePassLine(raw.data(), rawRowBytes, line, parts[i].width, bpp,
                    static_cast<uint32_t>(pass.firstRow + pass.rowStep * y), pass);
      prior = line;
      src += passRowBytes + 1;
    }
  }
  return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Filters.

// With p = a + b - c the distances simplify: p - a = b - c, p - b = a - c,
// p - c = (b - c) + (a - c). Written as selections, the compiler emits no
// branches, which matters in the per-byte loop below.
unsigned char paethPredictor(int a, int b, int c) {
  const int towardB = b - c, towardA = a - c;
  const int pa = towardB < 0 ? -towardB : towardB;
  const int pb = towardA < 0 ? -towardA : towardA;
  const int sum = towardA + towardB;
  const int pc = sum < 0 ? -sum : sum;
  const int bOrC = pb <= pc ? b : c;
  return static_cast<unsigned char>(pa <= pb && pa <= pc ? a : bOrC);
}

int unfilterScanline(unsigned char* recon, const unsigned char* scanline, const unsigned char* prior,
                     size_t step, size_t length, unsigned filterType) {
  if (filterType > 4) return 36;
  const size_t head = std::min(step, length);  // bytes with no pixel to their left
  // Without a prior line every byte above counts as 0: Up becomes None and
  // Paeth becomes Sub.
  if (!prior) {
    if (filterType == 2) filterType = 0;
    if (filterType == 4) filterType = 1;
  }
  switch (filterType) {
    case 0:
      std::memmove(recon, scanline, length);
      break;
    case 1:
      std::memmove(recon, scanline, head);
      for (size_t i = step; i < length; ++i) recon[i] = static_cast<unsigned char>(scanline[i] + recon[i - step]);
      break;
    case 2:
      for (size_t i = 0; i < length; ++i) recon[i] = static_cast<unsigned char>(scanline[i] + prior[i]);
      break;
    case 3:
      if (!prior) {
        std::memmove(recon, scanline, head);
        for (size_t i = step; i < length; ++i)
          recon[i] = static_cast<unsigned char>(scanline[i] + (recon[i - step] >> 1));
      } else {
        for (size_t i = 0; i < head; ++i) recon[i] = static_cast<unsigned char>(scanline[i] + (prior[i] >> 1));
        for (size_t i = step; i < length; ++i)
          recon[i] = static_cast<unsigned char>(scanline[i] + ((recon[i - step] + prior[i]) >> 1));
      }
      break;
    case 4:
      // Upper-left and left are 0 for the head bytes: the predictor picks above.
      for (size_t i = 0; i < head; ++i) recon[i] = static_cast<unsigned char>(scanline[i] + prior[i]);
      for (size_t i = step; i < length; ++i)
        recon[i] = static_cast<unsigned char>(
            scanline[i] + paethPredictor(recon[i - step], prior[i], prior[i - step]));
      break;
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Conversion.

namespace {

// Converts from the last pixel to the first, and reads every pixel whole
// before writing its RGBA. That makes it safe to convert in place, RGBA over
// the raw image, whenever no raw pixel starts beyond its RGBA position: true
// for every format of at most 32 bits per pixel, whose padded rows are never
// longer than width * 4 bytes.
int convertBackwards(unsigned char* rgba, const unsigned char* raw, const PngState& state) {
  const uint32_t width = state.width, height = state.height;
  const unsigned depth = state.bitDepth;
  const unsigned bpp = bitsPerPixel(state.colourType, depth);
  const size_t rowBytes = lineBytes(width, bpp);
  const size_t paletteEntries = state.palette.size() / 4;
  const unsigned char* palette = state.palette.data();
  const bool key = state.keyPresent;
  const unsigned keyR = state.keyRed, keyG = state.keyGreen, keyB = state.keyBlue;
  const unsigned sampleMask = depth < 8 ? (1u << depth) - 1 : 0;

  for (uint32_t y = height; y-- > 0;) {
    const unsigned char* row = raw + size_t{y} * rowBytes;
    unsigned char* dst = rgba + (size_t{y} * width + width) * 4;
    for (uint32_t x = width; x-- > 0;) {
      dst -= 4;
      unsigned r, g, b, a;
      switch (state.colourType) {
        case 0:
          if (depth == 8) {
            r = row[x];
            a = (key && r == keyR) ? 0 : 255;
          } else if (depth == 16) {
            const unsigned v = (row[2 * size_t{x}] << 8) | row[2 * size_t{x} + 1];
            r = v >> 8;
            a = (key && v == keyR) ? 0 : 255;
          } else {
            const size_t bit = size_t{x} * depth;
            const unsigned v = (row[bit >> 3] >> (8 - depth - (bit & 7))) & sampleMask;
            r = v * 255 / sampleMask;
            a = (key && v == keyR) ? 0 : 255;
          }
          g = b = r;
          break;
        case 2:
          if (depth == 8) {
            const unsigned char* p = row + 3 * size_t{x};
            r = p[0], g = p[1], b = p[2];
            a = (key && r == keyR && g == keyG && b == keyB) ? 0 : 255;
          } else {
            const unsigned char* p = row + 6 * size_t{x};
            const unsigned r16 = (p[0] << 8) | p[1], g16 = (p[2] << 8) | p[3], b16 = (p[4] << 8) | p[5];
            r = p[0], g = p[2], b = p[4];
            a = (key && r16 == keyR && g16 == keyG && b16 == keyB) ? 0 : 255;
          }
          break;
        case 3: {
          unsigned index;
          if (depth == 8) {
            index = row[x];
          } else {
            const size_t bit = size_t{x} * depth;
            index = (row[bit >> 3] >> (8 - depth - (bit & 7))) & sampleMask;
          }
          if (index >= paletteEntries) return depth == 8 ? 46 : 47;
          const unsigned char* entry = palette + 4 * size_t{index};
          r = entry[0], g = entry[1], b = entry[2], a = entry[3];
          break;
        }
        case 4:
          if (depth == 8) {
            r = row[2 * size_t{x}], a = row[2 * size_t{x} + 1];
          } else {
            r = row[4 * size_t{x}], a = row[4 * size_t{x} + 2];
          }
          g = b = r;
          break;
        default: {  // 6
          const size_t bytes = depth == 8 ? 4 : 8;
          const unsigned char* p = row + bytes * x;
          const size_t step = bytes / 4;  // high bytes of 16-bit samples
          r = p[0], g = p[step], b = p[2 * step], a = p[3 * step];
          break;
        }
      }
      dst[0] = static_cast<unsigned char>(r);
      dst[1] = static_cast<unsigned char>(g);
      dst[2] = static_cast<unsigned char>(b);
      dst[3] = static_cast<unsigned char>(a);
    }
  }
  return 0;
}

}  // namespace

int convertToRgba(std::vector<unsigned char>& out, const unsigned char* raw, const PngState& state) {
  out.resize(size_t{state.width} * state.height * 4);
  return convertBackwards(out.data(), raw, state);
}

// ---------------------------------------------------------------------------
// The file.

void decodeImage(std::vector<unsigned char>& out, PngState& state, const unsigned char* in,
                 size_t size) {
  state = PngState();  // a reused record carries nothing over
  int& error = state.error;

  if (!in || size == 0) {
    error = 48;
    return;
  }
  if (size < 29) {
    error = 27;
    return;
  }
  if (std::memcmp(in, Signature, 8) != 0) {
    error = 28;
    return;
  }
  if (!isType(in + 12, "IHDR")) {
    error = 29;
    return;
  }
  // The header is always the first 29 bytes, whatever its length field says.
  state.width = readBigEndian32(in + 16);
  state.height = readBigEndian32(in + 20);
  state.bitDepth = in[24];
  state.colourType = in[25];
  state.compressionMethod = in[26];
  if (state.compressionMethod != 0) {
    error = 32;
    return;
  }
  state.filterMethod = in[27];
  if (state.filterMethod != 0) {
    error = 33;
    return;
  }
  state.interlaceMethod = in[28];
  if (state.interlaceMethod > 1) {
    error = 34;
    return;
  }
  error = checkColourAndDepth(state.colourType, state.bitDepth);
  if (error) return;
  if (state.width == 0 || state.height == 0) {
    error = 43;
    return;
  }

  const unsigned bpp = bitsPerPixel(state.colourType, state.bitDepth);
  SubImage parts[7];
  int passOf[7];
  int partCount = 0;
  const uint64_t scanlineBytes = layoutScanlines(state, bpp, parts, passOf, partCount);
  // The pixel count is checked first: once it is below 2^30 none of the other
  // 64-bit products can wrap.
  const uint64_t pixels = uint64_t{state.width} * state.height;
  const uint64_t limit = 0xFFFFFFFFu;
  if (pixels > limit / 4 || (pixels * bpp + 7) / 8 > limit || scanlineBytes > limit ||
      uint64_t{state.height} * lineBytes(state.width, bpp) > limit) {
    error = 44;
    return;
  }

  // Chunks, from right after IHDR's CRC. No order is enforced: PLTE and tRNS
  // count wherever they stand before IEND, and IDATs need not be adjacent.
  // The image data cannot be larger than the file: reserving that much up
  // front (address space, not touched memory) saves the copies of growing.
  std::vector<unsigned char> compressed;
  if (size > 33) compressed.reserve(size - 33);
  size_t pos = 33;
  for (bool ended = false; !ended;) {
    if (pos + 8 >= size) {
      error = 30;
      return;
    }
    const uint32_t length = readBigEndian32(in + pos);
    if (length > 2147483647u) {
      error = 63;
      return;
    }
    if (pos + 8 + length > size) {
      error = 35;
      return;
    }
    const unsigned char* type = in + pos + 4;
    const unsigned char* data = in + pos + 8;
    if (isType(type, "IDAT")) {
      compressed.insert(compressed.end(), data, data + length);
    } else if (isType(type, "IEND")) {
      ended = true;
    } else if (isType(type, "PLTE")) {
      const size_t entries = length / 3;  // 1 or 2 trailing bytes are not used
      if (entries > 256) {
        error = 38;
        return;
      }
      state.palette.resize(4 * entries);
      for (size_t i = 0; i < entries; ++i) {
        std::memcpy(&state.palette[4 * i], data + 3 * i, 3);
        state.palette[4 * i + 3] = 255;
      }
    } else if (isType(type, "tRNS")) {
      switch (state.colourType) {
        case 3:
          if (uint64_t{length} * 4 > state.palette.size()) {
            error = 39;
            return;
          }
          for (size_t i = 0; i < length; ++i) state.palette[4 * i + 3] = data[i];
          break;
        case 0:
          if (length != 2) {
            error = 40;
            return;
          }
          state.keyPresent = true;
          state.keyRed = state.keyGreen = state.keyBlue = (data[0] << 8) | data[1];
          break;
        case 2:
          if (length != 6) {
            error = 41;
            return;
          }
          state.keyPresent = true;
          state.keyRed = (data[0] << 8) | data[1];
          state.keyGreen = (data[2] << 8) | data[3];
          state.keyBlue = (data[4] << 8) | data[5];
          break;
        default:
          error = 42;
          return;
      }
    } else if (!(type[0] & 0x20)) {
      error = 69;  // critical and unknown: the image cannot be understood without it
      return;
    }
    pos += 12 + size_t{length};
  }

  // Plain images of at most 32 bits per pixel become RGBA in place, in the
  // buffer that received the scanlines: it is pre-sized for the larger of the
  // two so that growing it to the RGBA size later moves nothing. (Adam7 images
  // need a separate raw image anyway.)
  const uint64_t rgbaBytes = pixels * 4;
  const bool convertInPlace = bpp <= 32 && state.interlaceMethod == 0;
  const uint64_t wanted = convertInPlace ? std::max(scanlineBytes, rgbaBytes) : scanlineBytes;
  std::vector<unsigned char> scanlines;
  scanlines.resize(std::min<uint64_t>(wanted, compressed.size() * PresizeRatio + PresizeFloor));
  error = decompressZlib(scanlines, compressed.data(), compressed.data() + compressed.size());
  if (error) return;
  std::vector<unsigned char>().swap(compressed);

  if (scanlines.size() < scanlineBytes) {
    error = shortDataError(scanlines, parts, partCount, bpp);
    return;
  }

  std::vector<unsigned char> raw;
  if (state.interlaceMethod == 0) {
    error = unfilterInPlace(scanlines, state, bpp);
    raw.swap(scanlines);
  } else {
    raw.assign(size_t{state.height} * lineBytes(state.width, bpp), 0);
    error = unfilterPasses(raw, scanlines, state, bpp, parts, passOf, partCount);
    std::vector<unsigned char>().swap(scanlines);
  }
  if (error) return;

  if (state.colourType == 6 && state.bitDepth == 8) {
    out.swap(raw);  // already RGBA
    return;
  }
  if (convertInPlace) {
    raw.resize(rgbaBytes);
    error = convertBackwards(raw.data(), raw.data(), state);
    out.swap(raw);
    return;
  }
  error = convertToRgba(out, raw.data(), state);
}
