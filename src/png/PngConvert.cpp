// Conversion to RGBA. Grey levels and palette entries go through a table of
// finished 32-bit pixels, so each pixel is one lookup and one store; the
// truecolour formats are written a whole pixel at a time.
#include "png/PngConvert.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace {

// A pixel as the 32-bit word whose bytes in memory are R, G, B, A.
inline uint32_t Pack(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  if constexpr (std::endian::native == std::endian::little) return r | g << 8 | b << 16 | a << 24;
  return r << 24 | g << 16 | b << 8 | a;
}

inline void Put(unsigned char* dst, uint32_t pixel) { std::memcpy(dst, &pixel, 4); }

inline uint32_t Load32(const unsigned char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

inline unsigned Read16(const unsigned char* p) { return (p[0] << 8) | p[1]; }

// Sample x of a row of packed samples below 8 bits, most significant bit first.
inline unsigned PackedSample(const unsigned char* row, size_t x, unsigned depth) {
  const size_t bit = x * depth;
  return (row[bit >> 3] >> (8 - depth - (bit & 7))) & ((1u << depth) - 1);
}

// The largest of count bytes, 16 at a time where SSE2 is sure to be there:
// max_element's search for the first maximum branches on every byte.
inline unsigned char LargestByte(const unsigned char* p, size_t count) {
  unsigned char largest = 0;
  size_t i = 0;
#if defined(__x86_64__) || defined(_M_X64)
  if (count >= 16) {
    __m128i m = _mm_setzero_si128();
    for (; i + 16 <= count; i += 16) m = _mm_max_epu8(m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
    m = _mm_max_epu8(m, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + count - 16)));  // the tail, overlapping
    m = _mm_max_epu8(m, _mm_srli_si128(m, 8));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 4));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 2));
    m = _mm_max_epu8(m, _mm_srli_si128(m, 1));
    return static_cast<unsigned char>(_mm_cvtsi128_si32(m));
  }
#endif
  for (; i < count; ++i) largest = std::max(largest, p[i]);
  return largest;
}

}  // namespace

unsigned PngBitsPerPixel(uint32_t colourType, uint32_t depth) {
  switch (colourType) {
    case 2: return 3 * depth;
    case 4: return 2 * depth;
    case 6: return 4 * depth;
    default: return depth;  // 0 and 3: one sample per pixel
  }
}

RgbaConverter::RgbaConverter(const PngState& state)
    : depth_(state.bitDepth),
      keyPresent_(state.keyPresent),
      keyRed_(state.keyRed),
      keyGreen_(state.keyGreen),
      keyBlue_(state.keyBlue) {
  const bool wide = depth_ == 16;
  switch (state.colourType) {
    case 2: kind_ = wide ? Kind::Rgb16 : (keyPresent_ ? Kind::Rgb8Key : Kind::Rgb8); break;
    case 4: kind_ = wide ? Kind::GreyAlpha16 : Kind::GreyAlpha8; break;
    case 6: kind_ = wide ? Kind::Rgba16 : Kind::Rgba8; break;
    case 3: {
      kind_ = depth_ == 8 ? Kind::Table8 : Kind::TableLow;
      tableEntries_ = static_cast<unsigned>(state.palette.size() / 4);
      for (unsigned i = 0; i < tableEntries_; ++i) {
        const unsigned char* entry = &state.palette[4 * i];
        table_[i] = Pack(entry[0], entry[1], entry[2], entry[3]);
      }
      indexError_ = depth_ == 8 ? PngCode(PngError::PaletteIndex8) : PngCode(PngError::PaletteIndexLow);
      break;
    }
    default: {  // 0, grey
      if (wide) {
        kind_ = Kind::Grey16;
        break;
      }
      kind_ = depth_ == 8 ? Kind::Table8 : Kind::TableLow;
      tableEntries_ = 1u << depth_;
      // The key is compared at the sample's full width: a key above the
      // largest sample never matches.
      const unsigned maxSample = tableEntries_ - 1;
      for (unsigned v = 0; v <= maxSample; ++v) {
        const unsigned grey = v * 255 / maxSample;
        table_[v] = Pack(grey, grey, grey, keyPresent_ && v == keyRed_ ? 0 : 255);
      }
      break;
    }
  }
  if (kind_ == Kind::TableLow) {
    // A byte is valid when every sample it packs is inside the table.
    const unsigned perByte = 8 / depth_, mask = (1u << depth_) - 1;
    for (unsigned byte = 0; byte < 256; ++byte) {
      bool valid = true;
      for (unsigned k = 0; k < perByte; ++k) valid &= ((byte >> (depth_ * k)) & mask) < tableEntries_;
      lowBytesValid_[byte] = valid;
    }
  }
}

// Whole bytes of samples below 8 bits, the last byte first; byte i becomes
// pixels Depth-wide from 8 / Depth * i on, after it has been read, so dst may
// start where src does.
template <unsigned Depth>
int RgbaConverter::SpreadBytes(unsigned char* dst, const unsigned char* src, size_t bytes) const {
  constexpr unsigned perByte = 8 / Depth, mask = (1u << Depth) - 1;
  for (size_t i = bytes; i-- > 0;) {
    const unsigned byte = src[i];
    if (!lowBytesValid_[byte]) return indexError_;
    unsigned char* out = dst + 4 * perByte * i;
    for (unsigned k = 0; k < perByte; ++k) Put(out + 4 * k, table_[(byte >> (8 - Depth * (k + 1))) & mask]);
  }
  return 0;
}

int RgbaConverter::Row(unsigned char* dst, const unsigned char* src, size_t count) const {
  const uint32_t opaque = Pack(0, 0, 0, 255);
  switch (kind_) {
    case Kind::Rgba8:
      std::memmove(dst, src, count * 4);
      break;
    case Kind::Rgb8: {
      // Each pixel is read as 4 bytes, its own 3 and the next pixel's first;
      // that byte is still unwritten even in place (the next pixel went to
      // 4 * x + 4 onward). Only the last pixel has no next one.
      if (count == 0) break;
      const uint32_t colour = Pack(255, 255, 255, 0);
      const unsigned char* last = src + 3 * (count - 1);
      Put(dst + 4 * (count - 1), Pack(last[0], last[1], last[2], 255));
      for (size_t x = count - 1; x-- > 0;) Put(dst + 4 * x, (Load32(src + 3 * x) & colour) | opaque);
      break;
    }
    case Kind::Rgb8Key:
      for (size_t x = count; x-- > 0;) {
        const unsigned char* p = src + 3 * x;
        const bool keyed = p[0] == keyRed_ && p[1] == keyGreen_ && p[2] == keyBlue_;
        Put(dst + 4 * x, Pack(p[0], p[1], p[2], keyed ? 0 : 255));
      }
      break;
    case Kind::GreyAlpha8:
      for (size_t x = count; x-- > 0;) {
        const unsigned grey = src[2 * x], alpha = src[2 * x + 1];
        Put(dst + 4 * x, Pack(grey, grey, grey, alpha));
      }
      break;
    case Kind::Table8: {
      // A palette shorter than 256 entries: look for an index beyond it
      // first, over the whole row at once, so the lookups need no check.
      if (tableEntries_ < 256 && LargestByte(src, count) >= tableEntries_) return indexError_;
      // Four pixels a round, the last ones first: their indices are all read
      // before any of them is written, and what a round writes starts no
      // earlier than its own indices, so no index still to be read is lost.
      size_t x = count;
      for (; x >= 4; x -= 4) {
        const unsigned a = src[x - 4], b = src[x - 3], c = src[x - 2], d = src[x - 1];
        unsigned char* out = dst + 4 * (x - 4);
        Put(out, table_[a]);
        Put(out + 4, table_[b]);
        Put(out + 8, table_[c]);
        Put(out + 12, table_[d]);
      }
      while (x-- > 0) Put(dst + 4 * x, table_[src[x]]);
      break;
    }
    case Kind::TableLow: {
      // The pixels of the last, partly used byte one by one; then whole bytes,
      // each checked at once by lowBytesValid_ and spread into 8 / depth pixels.
      const unsigned perByte = 8 / depth_;
      const size_t wholeBytes = count / perByte;
      for (size_t x = count; x-- > wholeBytes * perByte;) {
        const unsigned sample = PackedSample(src, x, depth_);
        if (sample >= tableEntries_) return indexError_;
        Put(dst + 4 * x, table_[sample]);
      }
      switch (depth_) {
        case 1: return SpreadBytes<1>(dst, src, wholeBytes);
        case 2: return SpreadBytes<2>(dst, src, wholeBytes);
        default: return SpreadBytes<4>(dst, src, wholeBytes);
      }
    }
    case Kind::Grey16:
      for (size_t x = count; x-- > 0;) {
        const unsigned char* p = src + 2 * x;
        Put(dst + 4 * x, Pack(p[0], p[0], p[0], keyPresent_ && Read16(p) == keyRed_ ? 0 : 255));
      }
      break;
    case Kind::Rgb16:
      for (size_t x = count; x-- > 0;) {
        const unsigned char* p = src + 6 * x;
        const bool keyed =
            keyPresent_ && Read16(p) == keyRed_ && Read16(p + 2) == keyGreen_ && Read16(p + 4) == keyBlue_;
        Put(dst + 4 * x, Pack(p[0], p[2], p[4], keyed ? 0 : 255));
      }
      break;
    case Kind::GreyAlpha16:
      for (size_t x = count; x-- > 0;) {
        const unsigned char* p = src + 4 * x;
        Put(dst + 4 * x, Pack(p[0], p[0], p[0], p[2]));
      }
      break;
    case Kind::Rgba16:
      for (size_t x = count; x-- > 0;) {
        const unsigned char* p = src + 8 * x;
        Put(dst + 4 * x, Pack(p[0], p[2], p[4], p[6]));
      }
      break;
  }
  return 0;
}

int convertToRgba(std::vector<unsigned char>& out, const unsigned char* raw, const PngState& state) {
  const size_t width = state.width, height = state.height;
  const size_t rowBytes = PngRowBytes(width, PngBitsPerPixel(state.colourType, state.bitDepth));
  out.resize(width * height * 4);
  const RgbaConverter converter(state);
  for (size_t y = height; y-- > 0;) {
    if (int error = converter.Row(out.data() + y * width * 4, raw + y * rowBytes, width)) return error;
  }
  return 0;
}
