// Reversing the scanline filters.
//
// Sub, Average and Paeth depend on the byte one pixel to the left, so their
// work is serial from pixel to pixel but parallel across the bytes of a pixel.
// For pixels of 3 to 8 bytes each pixel is therefore handled as one vector
// (SSE2, part of every 64-bit x86 processor), with no branch per byte; other
// widths, and other processors, take the byte loops.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "png/PngDecoder.h"

// 64-bit x86 only: the pixel moves use 64-bit general registers.
#if defined(__x86_64__) || defined(_M_X64)
#include <emmintrin.h>
#define PNG_FILTERS_SSE2 1
#endif

namespace {

enum FilterType : unsigned { FilterNone = 0, FilterSub = 1, FilterUp = 2, FilterAverage = 3, FilterPaeth = 4 };

// Byte loops, for any step. The bytes of the first pixel have nothing to their
// left; Recon[i - step] and Prior[i - step] count as 0 there.
void SubBytes(unsigned char* recon, const unsigned char* raw, size_t step, size_t length) {
  const size_t head = std::min(step, length);
  std::memmove(recon, raw, head);
  for (size_t i = step; i < length; ++i) recon[i] = static_cast<unsigned char>(raw[i] + recon[i - step]);
}

void AverageBytes(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t step,
                  size_t length) {
  const size_t head = std::min(step, length);
  if (!prior) {
    std::memmove(recon, raw, head);
    for (size_t i = step; i < length; ++i) recon[i] = static_cast<unsigned char>(raw[i] + (recon[i - step] >> 1));
    return;
  }
  for (size_t i = 0; i < head; ++i) recon[i] = static_cast<unsigned char>(raw[i] + (prior[i] >> 1));
  for (size_t i = step; i < length; ++i)
    recon[i] = static_cast<unsigned char>(raw[i] + ((recon[i - step] + prior[i]) >> 1));
}

void PaethBytes(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t step,
                size_t length) {
  const size_t head = std::min(step, length);
  // Left and upper-left are 0 for the first pixel: the predictor picks above.
  for (size_t i = 0; i < head; ++i) recon[i] = static_cast<unsigned char>(raw[i] + prior[i]);
  for (size_t i = step; i < length; ++i)
    recon[i] = static_cast<unsigned char>(raw[i] + paethPredictor(recon[i - step], prior[i], prior[i - step]));
}

// Up has no dependency along the line. recon may lie before raw in the same
// buffer: each block is read before its result is stored.
void UpBytes(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t length) {
  size_t i = 0;
#ifdef PNG_FILTERS_SSE2
  for (; i + 16 <= length; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prior + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(recon + i), _mm_add_epi8(x, b));
  }
#endif
  for (; i < length; ++i) recon[i] = static_cast<unsigned char>(raw[i] + prior[i]);
}

#ifdef PNG_FILTERS_SSE2

// One pixel of Step bytes in the low bytes of a vector. The bytes go through
// a general register, not memory: a vector load of bytes just stored piecewise
// would stall, on the serial path from pixel to pixel. Exactly Step bytes are
// read and written, so nothing beyond the line is touched.
// Whole loads and stores of 1, 2, 4 or 8 bytes; a pixel of 3 or 6 bytes is
// two of them, combined in a register (x86 is little-endian: the first byte
// is the lowest).
template <typename T>
inline T LoadWord(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
inline void StoreWord(unsigned char* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

template <size_t Step>
inline __m128i LoadPixel(const unsigned char* p) {
  if constexpr (Step == 3) return _mm_cvtsi32_si128(static_cast<int>(LoadWord<uint16_t>(p) | uint32_t{p[2]} << 16));
  if constexpr (Step == 4) return _mm_cvtsi32_si128(static_cast<int>(LoadWord<uint32_t>(p)));
  if constexpr (Step == 6)
    return _mm_cvtsi64_si128(static_cast<long long>(LoadWord<uint32_t>(p) | uint64_t{LoadWord<uint16_t>(p + 4)} << 32));
  if constexpr (Step == 8) return _mm_cvtsi64_si128(static_cast<long long>(LoadWord<uint64_t>(p)));
}

template <size_t Step>
inline void StorePixel(unsigned char* p, __m128i pixel) {
  if constexpr (Step <= 4) {
    const uint32_t v = static_cast<uint32_t>(_mm_cvtsi128_si32(pixel));
    if constexpr (Step == 4) StoreWord<uint32_t>(p, v);
    if constexpr (Step == 3) StoreWord<uint16_t>(p, static_cast<uint16_t>(v)), p[2] = static_cast<unsigned char>(v >> 16);
  } else {
    const uint64_t v = static_cast<uint64_t>(_mm_cvtsi128_si64(pixel));
    if constexpr (Step == 8) StoreWord<uint64_t>(p, v);
    if constexpr (Step == 6) StoreWord<uint32_t>(p, static_cast<uint32_t>(v)), StoreWord<uint16_t>(p + 4, static_cast<uint16_t>(v >> 32));
  }
}

template <size_t Step>
void SubPixels(unsigned char* recon, const unsigned char* raw, size_t length) {
  __m128i left = _mm_setzero_si128();
  for (size_t i = 0; i < length; i += Step) {
    left = _mm_add_epi8(LoadPixel<Step>(raw + i), left);
    StorePixel<Step>(recon + i, left);
  }
}

template <size_t Step>
void AveragePixels(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t length) {
  const __m128i one = _mm_set1_epi8(1);
  __m128i left = _mm_setzero_si128();
  for (size_t i = 0; i < length; i += Step) {
    const __m128i above = LoadPixel<Step>(prior + i);
    // _mm_avg_epu8 rounds up; the filter rounds down.
    const __m128i mean = _mm_sub_epi8(_mm_avg_epu8(left, above), _mm_and_si128(_mm_xor_si128(left, above), one));
    left = _mm_add_epi8(LoadPixel<Step>(raw + i), mean);
    StorePixel<Step>(recon + i, left);
  }
}

inline __m128i Abs16(__m128i x) { return _mm_max_epi16(x, _mm_sub_epi16(_mm_setzero_si128(), x)); }

// The predictor on 16-bit lanes: pa = |b - c|, pb = |a - c|, pc = |a + b - 2c|;
// a when pa is the smallest, else b when pb is, else c.
template <size_t Step>
void PaethPixels(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t length) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = zero, c = zero;  // left and upper-left, 16-bit lanes
  for (size_t i = 0; i < length; i += Step) {
    const __m128i b = _mm_unpacklo_epi8(LoadPixel<Step>(prior + i), zero);
    const __m128i towardB = _mm_sub_epi16(b, c), towardA = _mm_sub_epi16(a, c);
    const __m128i pa = Abs16(towardB), pb = Abs16(towardA), pc = Abs16(_mm_add_epi16(towardA, towardB));
    const __m128i smallest = _mm_min_epi16(pa, _mm_min_epi16(pb, pc));
    const __m128i useA = _mm_cmpeq_epi16(pa, smallest);
    const __m128i useB = _mm_andnot_si128(useA, _mm_cmpeq_epi16(pb, smallest));
    const __m128i useC = _mm_andnot_si128(_mm_or_si128(useA, useB), _mm_set1_epi16(-1));
    const __m128i predicted = _mm_or_si128(_mm_or_si128(_mm_and_si128(useA, a), _mm_and_si128(useB, b)),
                                           _mm_and_si128(useC, c));
    const __m128i x = _mm_add_epi8(LoadPixel<Step>(raw + i), _mm_packus_epi16(predicted, predicted));
    StorePixel<Step>(recon + i, x);
    a = _mm_unpacklo_epi8(x, zero);
    c = b;
  }
}

// The vector loops for whole pixels of 3, 4, 6 or 8 bytes; false when the
// line is of another shape and the byte loops must do it.
template <size_t Step>
bool PixelLoop(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t length,
               unsigned type) {
  switch (type) {
    case FilterSub: SubPixels<Step>(recon, raw, length); return true;
    case FilterAverage:
      if (!prior) return false;
      AveragePixels<Step>(recon, raw, prior, length);
      return true;
    case FilterPaeth: PaethPixels<Step>(recon, raw, prior, length); return true;
    default: return false;
  }
}

bool VectorUnfilter(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t step,
                    size_t length, unsigned type) {
  if (length % step != 0) return false;
  switch (step) {
    case 3: return PixelLoop<3>(recon, raw, prior, length, type);
    case 4: return PixelLoop<4>(recon, raw, prior, length, type);
    case 6: return PixelLoop<6>(recon, raw, prior, length, type);
    case 8: return PixelLoop<8>(recon, raw, prior, length, type);
    default: return false;
  }
}

#endif

}  // namespace

// With p = a + b - c the distances simplify: p - a = b - c, p - b = a - c,
// p - c = (b - c) + (a - c). Written as selections, the compiler emits no
// branches, which matters in the per-byte loops.
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
  if (filterType > FilterPaeth) return PngCode(PngError::FilterType);
  // Without a prior line every byte above counts as 0: Up becomes None and
  // Paeth becomes Sub.
  if (!prior) {
    if (filterType == FilterUp) filterType = FilterNone;
    if (filterType == FilterPaeth) filterType = FilterSub;
  }
#ifdef PNG_FILTERS_SSE2
  if (VectorUnfilter(recon, scanline, prior, step, length, filterType)) return 0;
#endif
  switch (filterType) {
    case FilterNone: std::memmove(recon, scanline, length); break;
    case FilterSub: SubBytes(recon, scanline, step, length); break;
    case FilterUp: UpBytes(recon, scanline, prior, length); break;
    case FilterAverage: AverageBytes(recon, scanline, prior, step, length); break;
    case FilterPaeth: PaethBytes(recon, scanline, prior, step, length); break;
  }
  return 0;
}
