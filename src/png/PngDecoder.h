// PNG decoder: the bytes of a PNG file to 8-bit RGBA, rows top to bottom.
//
// Reads IHDR, PLTE, IDAT, tRNS and IEND; skips ancillary chunks it does not
// know and refuses unknown critical ones. CRCs are never read. Every colour
// type, bit depth and interlace method comes out as RGBA: palettes and low
// depths are expanded, a tRNS key or palette alpha becomes alpha, 16-bit
// samples keep their high byte.
//
// Error codes: see PngError below. The checks run in the order of that list,
// so an input shows the first failure it meets; 0 is success. An empty or
// oversized image passes every check of the chunk walk first: it is refused
// where the first buffer would be sized from the header.
//
// Memory: nothing is sized from the header alone before the data has shown it
// can fill it, so a file that claims huge dimensions but carries little data is
// refused (45) without a large allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The decoder's own result codes, in the order the checks run. The numbers are
// what users see (demotool and the image loader print them): they never
// change. state.error holds one of these, or the inflater's code
// (InflateError) when the image data fails to decompress.
enum class PngError : int {
  None = 0,
  // The input, the signature and the header.
  NoInput = 48,                // null pointer or count 0
  TooShort = 27,               // input shorter than 29 bytes
  NoSignature = 28,            // the first 8 bytes are not the PNG signature
  NoHeader = 29,               // bytes 12 to 15 are not IHDR
  CompressionMethod = 32,      // compression method not 0
  FilterMethod = 33,           // filter method not 0
  InterlaceMethod = 34,        // interlace method above 1
  ColourType = 31,             // colour type not 0, 2, 3, 4 or 6
  BitDepth = 37,               // bit depth not allowed for the colour type
  // The chunk walk, from offset 33 to IEND.
  ChunkHeaderMissing = 30,     // at a chunk start, no complete chunk header and one more byte
                               // (also a missing IEND)
  ChunkLengthTooLarge = 63,    // chunk length with bit 31 set
  ChunkPastEnd = 35,           // a chunk's data runs past the end of the input
  PaletteTooLarge = 38,        // PLTE with more than 256 entries
  TransparencyTooLong = 39,    // tRNS of an indexed-colour image with more values than
                               // palette entries
  GreyKeyLength = 40,          // tRNS of a greyscale image whose length is not 2
  ColourKeyLength = 41,        // tRNS of a truecolour image whose length is not 6
  TransparencyWithAlpha = 42,  // tRNS in an image with colour type 4 or 6
  UnknownCritical = 69,        // unknown critical chunk (first type letter upper case);
                               // also a second IHDR
  // Where the first buffer is sized from the header, once every chunk is read.
  EmptyImage = 43,             // width or height 0
  ImageTooLarge = 44,          // the raw samples, scanlines or RGBA do not fit in 32 bits
  // Decompression: the inflater's codes pass through unchanged (10, 11, 13, 14,
  // 15, 16, 18, 20, 21, 23, 24, 25, 26, 49, 50, 51, 52, 53, 54, 55, 64); no IDAT
  // at all gives 53.
  // Unfiltering.
  FilterType = 36,             // filter type above 4
  DataTooShort = 45,           // the decompressed data ends before the image does; rows are
                               // taken in order, each must lie wholly inside the data before
                               // its filter type is looked at, so an earlier bad filter type
                               // still shows as 36
  // Conversion.
  PaletteIndex8 = 46,          // palette index beyond the palette (8-bit indices)
  PaletteIndexLow = 47,        // palette index beyond the palette (1-, 2- and 4-bit indices)
};

// The number a code shows as, for the stages that return either kind of code.
constexpr int PngCode(PngError error) { return static_cast<int>(error); }

struct PngState {
  uint32_t width = 0;   // from IHDR; 0 until its type has been seen
  uint32_t height = 0;  // from IHDR; 0 until its type has been seen
  uint32_t colourType = 0;  // 0 grey, 2 truecolour, 3 indexed, 4 grey + alpha, 6 truecolour + alpha
  uint32_t bitDepth = 0;    // bits per sample: 1, 2, 4, 8 or 16
  uint32_t compressionMethod = 0;
  uint32_t filterMethod = 0;
  uint32_t interlaceMethod = 0;  // 0 none, 1 Adam7
  // The tRNS colour key as 16-bit sample values; a grey key is stored in all three.
  uint32_t keyRed = 0;
  uint32_t keyGreen = 0;
  uint32_t keyBlue = 0;
  bool keyPresent = false;
  std::vector<unsigned char> palette;  // 4 bytes per entry, R G B A, at most 256 entries
  int error = 0;
};

// Decodes size bytes at in into out (RGBA). Sets state.error to 0 on success.
// Width and height are set as soon as bytes 12 to 15 read IHDR and keep their
// values when a later stage fails. The palette and key are reset when the
// chunks are read, so a record may be reused. On failure out is not an image.
void decodeImage(std::vector<unsigned char>& out, PngState& state, const unsigned char* in,
                 size_t size);

// ---------------------------------------------------------------------------
// Building blocks of decodeImage, declared here so that the tests can drive
// them directly.

// The Paeth predictor of the PNG format: whichever of left (a), above (b) and
// upper-left (c) is closest to a + b - c, ties going to a, then b.
unsigned char paethPredictor(int a, int b, int c);

// Reverses the filter of one scanline of length bytes: recon receives the
// result, prior is the unfiltered line above (nullptr for the first line of an
// image or pass), step the byte distance to the corresponding byte of the pixel
// to the left. Returns 0, or 36 for a filter type above 4. recon may be
// scanline itself or lie before it in the same buffer (bytes are produced in
// order, each after its source has been read); prior may not overlap recon.
int unfilterScanline(unsigned char* recon, const unsigned char* scanline, const unsigned char* prior,
                     size_t step, size_t length, unsigned filterType);

// Converts a raw image (rows of (width * bits per pixel + 7) / 8 bytes, as
// unfiltered) to RGBA by the header, key and palette in state. Returns 0, 46 or
// 47. out is resized to width * height * 4.
int convertToRgba(std::vector<unsigned char>& out, const unsigned char* raw, const PngState& state);
