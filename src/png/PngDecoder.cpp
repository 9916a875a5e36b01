// PNG decoder: the stages of decodeImage, from the header to the RGBA image.
//
// Each stage returns its code and runs only when the ones before it returned
// 0, so the checks run in the order listed in PngDecoder.h. All sizes derived
// from the header are computed in 64 bits and refused when they do not fit in
// 32 (44), so no buffer is ever sized by an expression that wrapped. The
// unfiltered image is kept with each row padded to whole bytes, as the
// scanlines store it; low bit depths are unpacked from it during conversion.
#include "png/PngDecoder.h"

#include <algorithm>
#include <cstring>

#include "png/Inflate.h"
#include "png/PngConvert.h"

namespace {

constexpr unsigned char Signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr size_t HeaderEnd = 29;   // signature, IHDR's length, type and 13 data bytes
constexpr size_t ChunksStart = 33;  // after IHDR's CRC, whatever its length field says

// The pre-size of the scanline buffer is capped by what the compressed data
// could plausibly hold; the inflater grows the buffer past the cap when the
// data really is that compressible. This keeps a file that claims a huge image
// from committing gigabytes before its data has been seen.
constexpr uint64_t PresizeRatio = 64;
constexpr uint64_t PresizeFloor = uint64_t{16} << 20;
// How much more than its scanlines an image's data may inflate to. Data past
// the scanlines is never used, so a stream that goes on much further is
// damaged or hostile: a few kilobytes of it could otherwise demand gigabytes.
constexpr uint64_t SurplusDataLimit = uint64_t{1} << 20;

inline uint32_t ReadBigEndian32(const unsigned char* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

inline uint32_t ReadBigEndian16(const unsigned char* p) { return (uint32_t{p[0]} << 8) | p[1]; }

inline bool IsType(const unsigned char* p, const char* type) { return std::memcmp(p, type, 4) == 0; }

struct Adam7Pass {
  uint32_t firstColumn, firstRow, columnStep, rowStep;
};
constexpr Adam7Pass Adam7[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};

inline uint64_t PassExtent(uint64_t size, uint32_t first, uint32_t step) {
  return size > first ? (size - first + step - 1) / step : 0;
}

// One image or pass: its size in pixels, where its scanlines start, and for
// a pass where its pixels go.
struct SubImage {
  uint64_t width, height, offset;
  Adam7Pass placement;
};

// The image's shape as the header gives it, derived once all chunks are read.
struct Layout {
  unsigned bitsPerPixel = 0;
  size_t step = 0;             // filter distance to the pixel on the left, at least 1 byte
  uint64_t rowBytes = 0;       // one row of the raw image
  uint64_t rgbaBytes = 0;
  uint64_t scanlineBytes = 0;  // the filtered data the whole image needs
  // One subimage for a plain image, up to seven passes for Adam7, in the order
  // their scanlines follow each other (empty passes take no bytes and are left out).
  SubImage parts[7];
  int partCount = 0;
};

// ---------------------------------------------------------------------------
// Stage 1: the input, the signature and the header.

int CheckInput(const unsigned char* in, size_t size) {
  if (!in || size == 0) return PngCode(PngError::NoInput);
  if (size < HeaderEnd) return PngCode(PngError::TooShort);
  if (std::memcmp(in, Signature, 8) != 0) return PngCode(PngError::NoSignature);
  if (!IsType(in + 12, "IHDR")) return PngCode(PngError::NoHeader);
  return 0;
}

int CheckColourAndDepth(uint32_t colourType, uint32_t depth) {
  switch (colourType) {
    case 0: return (depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16) ? 0 : PngCode(PngError::BitDepth);
    case 2:
    case 4:
    case 6: return (depth == 8 || depth == 16) ? 0 : PngCode(PngError::BitDepth);
    case 3: return (depth == 1 || depth == 2 || depth == 4 || depth == 8) ? 0 : PngCode(PngError::BitDepth);
    default: return PngCode(PngError::ColourType);
  }
}

// The header is always the first 29 bytes, whatever its length field says.
int ReadHeader(PngState& state, const unsigned char* in) {
  state.width = ReadBigEndian32(in + 16);
  state.height = ReadBigEndian32(in + 20);
  state.bitDepth = in[24];
  state.colourType = in[25];
  state.compressionMethod = in[26];
  if (state.compressionMethod != 0) return PngCode(PngError::CompressionMethod);
  state.filterMethod = in[27];
  if (state.filterMethod != 0) return PngCode(PngError::FilterMethod);
  state.interlaceMethod = in[28];
  if (state.interlaceMethod > 1) return PngCode(PngError::InterlaceMethod);
  return CheckColourAndDepth(state.colourType, state.bitDepth);
}

// ---------------------------------------------------------------------------
// Stage 2: the chunks, from right after IHDR's CRC to IEND. No order is
// enforced: PLTE and tRNS count wherever they stand before IEND, and IDATs
// need not be adjacent.

int ReadPalette(PngState& state, const unsigned char* data, uint32_t length) {
  const size_t entries = length / 3;  // 1 or 2 trailing bytes are not used
  if (entries > 256) return PngCode(PngError::PaletteTooLarge);
  state.palette.resize(4 * entries);
  for (size_t i = 0; i < entries; ++i) {
    std::memcpy(&state.palette[4 * i], data + 3 * i, 3);
    state.palette[4 * i + 3] = 255;
  }
  return 0;
}

int ReadTransparency(PngState& state, const unsigned char* data, uint32_t length) {
  switch (state.colourType) {
    case 3:
      if (uint64_t{length} * 4 > state.palette.size()) return PngCode(PngError::TransparencyTooLong);
      for (size_t i = 0; i < length; ++i) state.palette[4 * i + 3] = data[i];
      return 0;
    case 0:
      if (length != 2) return PngCode(PngError::GreyKeyLength);
      state.keyPresent = true;
      state.keyRed = state.keyGreen = state.keyBlue = ReadBigEndian16(data);
      return 0;
    case 2:
      if (length != 6) return PngCode(PngError::ColourKeyLength);
      state.keyPresent = true;
      state.keyRed = ReadBigEndian16(data);
      state.keyGreen = ReadBigEndian16(data + 2);
      state.keyBlue = ReadBigEndian16(data + 4);
      return 0;
    default: return PngCode(PngError::TransparencyWithAlpha);
  }
}

int ReadChunks(PngState& state, const unsigned char* in, size_t size, std::vector<unsigned char>& compressed) {
  // The image data cannot be larger than the file: reserving that much up
  // front (address space, not touched memory) saves the copies of growing.
  if (size > ChunksStart) compressed.reserve(size - ChunksStart);
  for (size_t pos = ChunksStart;;) {
    if (pos + 8 >= size) return PngCode(PngError::ChunkHeaderMissing);
    const uint32_t length = ReadBigEndian32(in + pos);
    if (length > 2147483647u) return PngCode(PngError::ChunkLengthTooLarge);
    if (pos + 8 + length > size) return PngCode(PngError::ChunkPastEnd);
    const unsigned char* type = in + pos + 4;
    const unsigned char* data = in + pos + 8;
    if (IsType(type, "IDAT")) {
      compressed.insert(compressed.end(), data, data + length);
    } else if (IsType(type, "IEND")) {
      return 0;
    } else if (IsType(type, "PLTE")) {
      if (int error = ReadPalette(state, data, length)) return error;
    } else if (IsType(type, "tRNS")) {
      if (int error = ReadTransparency(state, data, length)) return error;
    } else if (!(type[0] & 0x20)) {
      return PngCode(PngError::UnknownCritical);  // the image cannot be understood without it
    }
    pos += 12 + size_t{length};
  }
}

// ---------------------------------------------------------------------------
// Stage 3: the image's size, checked where the first buffer is sized from it.

int PlanImage(const PngState& state, Layout& layout) {
  if (state.width == 0 || state.height == 0) return PngCode(PngError::EmptyImage);
  const unsigned bpp = PngBitsPerPixel(state.colourType, state.bitDepth);
  layout.bitsPerPixel = bpp;
  layout.step = std::max(1u, bpp / 8);
  layout.rowBytes = PngRowBytes(state.width, bpp);
  if (state.interlaceMethod == 0) {
    layout.parts[0] = {state.width, state.height, 0, {0, 0, 1, 1}};
    layout.partCount = 1;
    layout.scanlineBytes = uint64_t{state.height} * (layout.rowBytes + 1);
  } else {
    for (const Adam7Pass& pass : Adam7) {
      const uint64_t w = PassExtent(state.width, pass.firstColumn, pass.columnStep);
      const uint64_t h = PassExtent(state.height, pass.firstRow, pass.rowStep);
      if (w == 0 || h == 0) continue;
      layout.parts[layout.partCount++] = {w, h, layout.scanlineBytes, pass};
      layout.scanlineBytes += h * (PngRowBytes(w, bpp) + 1);
    }
  }
  // The pixel count is checked first: once it is below 2^30 none of the other
  // 64-bit products can wrap.
  const uint64_t pixels = uint64_t{state.width} * state.height;
  const uint64_t limit = 0xFFFFFFFFu;
  layout.rgbaBytes = pixels * 4;
  if (pixels > limit / 4 || (pixels * bpp + 7) / 8 > limit || layout.scanlineBytes > limit ||
      uint64_t{state.height} * layout.rowBytes > limit)
    return PngCode(PngError::ImageTooLarge);
  return 0;
}

// ---------------------------------------------------------------------------
// Stage 4: decompression.

// Called only when the scanlines are shorter than the image needs: walks the
// rows in decoding order and reports what decoding would have met first, a bad
// filter type in a complete row (36) or the end of the data (45).
int ShortDataError(const std::vector<unsigned char>& scanlines, const Layout& layout) {
  for (int i = 0; i < layout.partCount; ++i) {
    const SubImage& part = layout.parts[i];
    const uint64_t rowSize = PngRowBytes(part.width, layout.bitsPerPixel) + 1;
    for (uint64_t y = 0; y < part.height; ++y) {
      const uint64_t at = part.offset + y * rowSize;
      if (at + rowSize > scanlines.size()) return PngCode(PngError::DataTooShort);
      if (scanlines[at] > 4) return PngCode(PngError::FilterType);
    }
  }
  return PngCode(PngError::DataTooShort);
}

// A plain image of at most 32 bits per pixel becomes RGBA in the buffer its
// scanlines were inflated into.
bool ConvertsInPlace(const PngState& state, const Layout& layout) {
  return layout.bitsPerPixel <= 32 && state.interlaceMethod == 0;
}

// Decompresses into scanlines, pre-sized for reuse: when the image becomes
// RGBA in this same buffer, it is reserved for the larger of the two and
// growing it to the RGBA size later moves nothing.
int Decompress(std::vector<unsigned char>& scanlines, std::vector<unsigned char>& compressed,
               const PngState& state, const Layout& layout) {
  const uint64_t wanted =
      ConvertsInPlace(state, layout) ? std::max(layout.scanlineBytes, layout.rgbaBytes) : layout.scanlineBytes;
  scanlines.resize(std::min<uint64_t>(wanted, compressed.size() * PresizeRatio + PresizeFloor));
  size_t produced = 0;
  if (int error = decompressZlib(scanlines, compressed.data(), compressed.data() + compressed.size(),
                                 layout.scanlineBytes + SurplusDataLimit, &produced))
    return error;
  std::vector<unsigned char>().swap(compressed);
  if (produced < layout.scanlineBytes) {
    scanlines.resize(produced);
    return ShortDataError(scanlines, layout);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Stage 5, a plain image: unfiltering, then conversion.

// Unfiltered in place: row y moves from offset y * (n + 1) + 1 to y * n, so
// each byte is written only after it has been read, and the filter bytes drop
// out. The scanlines become the padded raw image.
int UnfilterPlainImage(std::vector<unsigned char>& scanlines, const PngState& state, const Layout& layout) {
  const size_t rowBytes = layout.rowBytes;
  unsigned char* const base = scanlines.data();
  const unsigned char* prior = nullptr;
  for (size_t y = 0; y < state.height; ++y) {
    const unsigned char* src = base + y * (rowBytes + 1);
    unsigned char* dst = base + y * rowBytes;
    if (int error = unfilterScanline(dst, src + 1, prior, layout.step, rowBytes, src[0])) return error;
    prior = dst;
  }
  return 0;
}

// The raw image becomes RGBA in the same buffer when its pixels are at most 4
// bytes, converted from the last row back: RGBA row y starts no earlier than
// raw row y, so it covers only rows already converted.
int ConvertPlainImage(std::vector<unsigned char>& out, std::vector<unsigned char>& raw, const PngState& state,
                      const Layout& layout) {
  const RgbaConverter converter(state);
  if (layout.bitsPerPixel > 32) return convertToRgba(out, raw.data(), state);
  raw.resize(layout.rgbaBytes);  // may move the buffer when the inflater grew it past its pre-size
  if (!converter.IsIdentity()) {
    unsigned char* const base = raw.data();
    const size_t rgbaRow = size_t{state.width} * 4;
    for (size_t y = state.height; y-- > 0;) {
      if (int error = converter.Row(base + y * rgbaRow, base + y * layout.rowBytes, state.width)) return error;
    }
  }
  out.swap(raw);
  return 0;
}

// ---------------------------------------------------------------------------
// Stage 5, an Adam7 image: each pass line is unfiltered, converted and placed
// while it is still in cache.

// Spreads one converted pass line over its image row, pixel i to column
// firstColumn + columnStep * i.
void PlacePassLine(unsigned char* imageRow, const unsigned char* line, uint64_t passWidth, const Adam7Pass& pass) {
  unsigned char* dst = imageRow + size_t{pass.firstColumn} * 4;
  const size_t stride = size_t{pass.columnStep} * 4;
  for (uint64_t i = 0; i < passWidth; ++i, dst += stride, line += 4) std::memcpy(dst, line, 4);
}

// Each pass line is unfiltered, converted to RGBA and placed straight into
// the image. A palette fault is held back until every pass is unfiltered: a bad
// filter type anywhere comes first, as it would if conversion ran last.
int RebuildInterlacedImage(std::vector<unsigned char>& out, const std::vector<unsigned char>& scanlines,
                           const PngState& state, const Layout& layout) {
  out.resize(layout.rgbaBytes);
  const RgbaConverter converter(state);
  const size_t imageRow = size_t{state.width} * 4;
  std::vector<unsigned char> lines[2], rgbaLine;
  int conversionError = 0;
  for (int i = 0; i < layout.partCount; ++i) {
    const SubImage& part = layout.parts[i];
    const size_t passRowBytes = PngRowBytes(part.width, layout.bitsPerPixel);
    lines[0].assign(passRowBytes, 0);
    lines[1].assign(passRowBytes, 0);
    rgbaLine.resize(part.width * 4);
    const unsigned char* src = scanlines.data() + part.offset;
    const unsigned char* prior = nullptr;
    for (uint64_t y = 0; y < part.height; ++y, src += passRowBytes + 1) {
      unsigned char* line = lines[y & 1].data();
      if (int error = unfilterScanline(line, src + 1, prior, layout.step, passRowBytes, src[0])) return error;
      prior = line;
      const uint64_t row = part.placement.firstRow + part.placement.rowStep * y;
      const unsigned char* pixels = line;
      if (!converter.IsIdentity()) {
        if (conversionError) continue;
        conversionError = converter.Row(rgbaLine.data(), line, part.width);
        pixels = rgbaLine.data();
      }
      PlacePassLine(out.data() + row * imageRow, pixels, part.width, part.placement);
    }
  }
  return conversionError;
}

int Decode(std::vector<unsigned char>& out, PngState& state, const unsigned char* in, size_t size) {
  if (int error = CheckInput(in, size)) return error;
  if (int error = ReadHeader(state, in)) return error;
  std::vector<unsigned char> compressed;
  if (int error = ReadChunks(state, in, size, compressed)) return error;
  Layout layout;
  if (int error = PlanImage(state, layout)) return error;
  // The image ends up in out's buffer either way: where it is made in the
  // scanlines' own buffer, that is out's, which saves allocating and clearing
  // a new one when out still holds an earlier picture.
  std::vector<unsigned char> scanlines;
  if (ConvertsInPlace(state, layout)) scanlines.swap(out);
  if (int error = Decompress(scanlines, compressed, state, layout)) return error;
  if (state.interlaceMethod != 0) return RebuildInterlacedImage(out, scanlines, state, layout);
  if (int error = UnfilterPlainImage(scanlines, state, layout)) return error;
  return ConvertPlainImage(out, scanlines, state, layout);
}

}  // namespace

void decodeImage(std::vector<unsigned char>& out, PngState& state, const unsigned char* in, size_t size) {
  state = PngState();  // a reused record carries nothing over
  state.error = Decode(out, state, in, size);
}
