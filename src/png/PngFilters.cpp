// Reversing the scanline filters, one byte at a time.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "png/PngDecoder.h"

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

void UpBytes(unsigned char* recon, const unsigned char* raw, const unsigned char* prior, size_t length) {
  for (size_t i = 0; i < length; ++i) recon[i] = static_cast<unsigned char>(raw[i] + prior[i]);
}

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
  switch (filterType) {
    case FilterNone: std::memmove(recon, scanline, length); break;
    case FilterSub: SubBytes(recon, scanline, step, length); break;
    case FilterUp: UpBytes(recon, scanline, prior, length); break;
    case FilterAverage: AverageBytes(recon, scanline, prior, step, length); break;
    case FilterPaeth: PaethBytes(recon, scanline, prior, step, length); break;
  }
  return 0;
}
