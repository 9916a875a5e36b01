// Reversing the scanline filters.
//
// Sub, Average and Paeth depend on the byte one pixel to the left, so their
// work is serial from pixel to pixel but parallel across the bytes of a pixel.
// For pixels of 3 to 8 bytes each pixel is therefore handled as one vector
// (SSE2, part of every 64-bit x86 processor), with no branch per byte; pixels
// of 1 or 2 bytes carry the bytes to their left in registers. Both keep the
// serial part of Paeth short by comparing the left value against bounds
// worked out from the line above. Other shapes take the plain byte loops.
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

// The predictor as thresholds on a, for the loops where a is the last value
// computed and everything else is known in advance. With d = b - c, and for
// d >= 0: a is chosen when a >= b or a <= 3c - 2b, otherwise b when
// 2a >= 3c - b, otherwise c; for d < 0 every comparison turns round. Negating
// a and the bounds when d < 0 (s = -1) gives one form for both, and leaves
// only a negation, three comparisons and two selections between a and the
// next a.
struct PaethBounds {
  int s, b, low, mid;  // the sign of d, then s * b, s * (3c - 2b), s * (3c - b)
};

inline PaethBounds BoundsFor(int b, int c) {
  const int s = (b - c) >> 31;  // 0 or -1
  return {s, (b ^ s) - s, ((3 * c - 2 * b) ^ s) - s, ((3 * c - b) ^ s) - s};
}

inline int PaethFrom(int a, int b, int c, const PaethBounds& k) {
  const int as = (a ^ k.s) - k.s;
  const bool notA = (as < k.b) & (as > k.low);
  const int bOrC = 2 * as < k.mid ? c : b;
  return notA ? bOrC : a;
}

// Byte loops, for any step. The bytes of the first pixel have nothing to their
// left; Recon[i - step] and Prior[i - step] count as 0 there. For steps 1 and
// 2 the bytes to the left are carried in registers: read back from recon,
// which may share its buffer with raw, each would wait for its own store.
template <size_t Step>
void SubSmall(unsigned char* recon, const unsigned char* raw, size_t length) {
  unsigned left[Step] = {};
  for (size_t i = 0; i + Step <= length; i += Step) {
    for (size_t k = 0; k < Step; ++k) recon[i + k] = static_cast<unsigned char>(left[k] = (raw[i + k] + left[k]) & 0xFF);
  }
}

template <size_t Step>
void AverageSmall(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t length) {
  unsigned left[Step] = {};
  for (size_t i = 0; i + Step <= length; i += Step) {
    for (size_t k = 0; k < Step; ++k) {
      const unsigned above = prior ? prior[i + k] : 0;
      recon[i + k] = static_cast<unsigned char>(left[k] = (raw[i + k] + ((left[k] + above) >> 1)) & 0xFF);
    }
  }
}

template <size_t Step>
void PaethSmall(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t length) {
  int left[Step] = {}, upperLeft[Step] = {};
  for (size_t i = 0; i + Step <= length; i += Step) {
    for (size_t k = 0; k < Step; ++k) {
      const int above = prior[i + k];
      const int predicted = PaethFrom(left[k], above, upperLeft[k], BoundsFor(above, upperLeft[k]));
      recon[i + k] = static_cast<unsigned char>(left[k] = (raw[i + k] + predicted) & 0xFF);
      upperLeft[k] = above;
    }
  }
}

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

// The threshold form of the predictor (PaethFrom) on 16-bit lanes. Only the
// steps from one pixel's a to the next are serial; the bounds come from the
// line above and are worked out ahead by the processor.
template <size_t Step>
void PaethPixels(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t length) {
  const __m128i zero = _mm_setzero_si128(), lowBytes = _mm_set1_epi16(0xFF);
  __m128i a = zero, c = zero;  // left and upper-left, 16-bit lanes
  for (size_t i = 0; i < length; i += Step) {
    const __m128i b = _mm_unpacklo_epi8(LoadPixel<Step>(prior + i), zero);
    const __m128i s = _mm_cmpgt_epi16(c, b);  // d < 0
    const __m128i c3 = _mm_add_epi16(_mm_add_epi16(c, c), c);
    const __m128i bs = _mm_sub_epi16(_mm_xor_si128(b, s), s);
    const __m128i low = _mm_sub_epi16(_mm_xor_si128(_mm_sub_epi16(c3, _mm_add_epi16(b, b)), s), s);
    const __m128i mid = _mm_sub_epi16(_mm_xor_si128(_mm_sub_epi16(c3, b), s), s);
    const __m128i bcx = _mm_xor_si128(b, c);
    const __m128i x = _mm_unpacklo_epi8(LoadPixel<Step>(raw + i), zero);
    // The serial part.
    const __m128i as = _mm_sub_epi16(_mm_xor_si128(a, s), s);
    const __m128i notA = _mm_and_si128(_mm_cmpgt_epi16(bs, as), _mm_cmpgt_epi16(as, low));
    const __m128i notB = _mm_cmpgt_epi16(mid, _mm_add_epi16(as, as));
    const __m128i bOrC = _mm_xor_si128(b, _mm_and_si128(bcx, notB));
    const __m128i predicted = _mm_xor_si128(a, _mm_and_si128(_mm_xor_si128(a, bOrC), notA));
    a = _mm_and_si128(_mm_add_epi16(x, predicted), lowBytes);
    StorePixel<Step>(recon + i, _mm_packus_epi16(a, a));
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
  if ((step == 1 || step == 2) && length % step == 0) {
    switch (filterType) {
      case FilterSub: step == 1 ? SubSmall<1>(recon, scanline, length) : SubSmall<2>(recon, scanline, length); return 0;
      case FilterAverage:
        step == 1 ? AverageSmall<1>(recon, scanline, prior, length) : AverageSmall<2>(recon, scanline, prior, length);
        return 0;
      case FilterPaeth:
        step == 1 ? PaethSmall<1>(recon, scanline, prior, length) : PaethSmall<2>(recon, scanline, prior, length);
        return 0;
      default: break;
    }
  }
  switch (filterType) {
    case FilterNone: std::memmove(recon, scanline, length); break;
    case FilterSub: SubBytes(recon, scanline, step, length); break;
    case FilterUp: UpBytes(recon, scanline, prior, length); break;
    case FilterAverage: AverageBytes(recon, scanline, prior, step, length); break;
    case FilterPaeth: PaethBytes(recon, scanline, prior, step, length); break;
  }
  return 0;
}
