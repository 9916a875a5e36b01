// Unfiltered samples to RGBA pixels, one row at a time: shared by the plain
// image (converted in place, in the buffer that held its scanlines) and the
// Adam7 passes (converted line by line before they are spread out).
#pragma once

#include <cstddef>
#include <cstdint>

#include "png/PngDecoder.h"

// Bits per pixel of a colour type and sample depth (the pair already checked).
unsigned PngBitsPerPixel(uint32_t colourType, uint32_t depth);

// Bytes of a row of pixels as stored, padded to whole bytes.
inline uint64_t PngRowBytes(uint64_t pixels, unsigned bitsPerPixel) { return (pixels * bitsPerPixel + 7) / 8; }

class RgbaConverter {
 public:
  // Reads the header fields, palette and key of state; state must outlive
  // nothing here, the converter keeps its own copies.
  explicit RgbaConverter(const PngState& state);

  // True when the stored samples already are RGBA (truecolour with alpha,
  // 8 bits): there is nothing to convert.
  bool IsIdentity() const { return kind_ == Kind::Rgba8; }

  // Converts count pixels of one row as stored (samples packed, the first
  // pixel in the first byte's high bits) into 4 bytes each at dst. Works from
  // the last pixel to the first and reads each pixel before writing it, so dst
  // may start where src starts whenever a stored pixel is at most 4 bytes.
  // Returns 0, or 46 / 47 for a palette index beyond the palette.
  int Row(unsigned char* dst, const unsigned char* src, size_t count) const;

 private:
  enum class Kind { Rgba8, Rgb8, Rgb8Key, GreyAlpha8, Table8, TableLow, Grey16, Rgb16, GreyAlpha16, Rgba16 };
  Kind kind_;
  unsigned depth_;
  // Grey levels and palette entries as ready RGBA pixels, indexed by sample.
  uint32_t table_[256];
  unsigned tableEntries_ = 0;  // samples at or above this are palette faults
  int indexError_ = 0;
  bool lowBytesValid_[256] = {};  // TableLow: every sample the byte packs is in the table

  template <unsigned Depth>
  int SpreadBytes(unsigned char* dst, const unsigned char* src, size_t bytes) const;
  bool keyPresent_;
  uint32_t keyRed_, keyGreen_, keyBlue_;
};
