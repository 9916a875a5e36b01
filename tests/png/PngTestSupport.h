// Helpers for the inflater and PNG decoder tests: a DEFLATE bit writer for
// hand-made streams, zlib as the compressor, a small PNG writer that can filter
// and interlace, and libpng as the reference decoder.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// One item of a block in the fixed codes: a literal/length symbol ('a', 257,
// EndOfBlock), a distance symbol, or raw extra bits. The block's end is an
// item like any other, so that a stream can stop anywhere.
struct FixedItem {
  enum Kind { Symbol, Distance, Extra } kind;
  unsigned value, count;
  FixedItem(unsigned symbol) : kind(Symbol), value(symbol), count(0) {}  // NOLINT: implicit on purpose
  FixedItem(Kind k, unsigned v, unsigned n = 0) : kind(k), value(v), count(n) {}
};
constexpr unsigned EndOfBlock = 256;
inline FixedItem distance(unsigned symbol) { return {FixedItem::Distance, symbol}; }
inline FixedItem extraBits(unsigned value, unsigned count) { return {FixedItem::Extra, value, count}; }

// Writes DEFLATE bit fields: values least significant bit first, Huffman codes
// most significant bit first.
struct BitWriter {
  Bytes bytes;
  size_t bit = 0;
  void bits(unsigned value, unsigned count);
  void code(unsigned code, unsigned length);
  void alignToByte() { bit = (bit + 7) & ~size_t{7}; }
  void byte(unsigned char b);  // after alignToByte
  // A literal/length or distance symbol of the fixed codes.
  void fixedLiteral(unsigned symbol);
  void fixedDistance(unsigned symbol) { code(symbol, 5); }
  // A block in the fixed codes: its header, then the items as given.
  void fixedBlock(bool final, std::initializer_list<FixedItem> items);
  // A stored block's header, up to the byte boundary where LEN begins.
  void storedHeader(bool final);
  // Canonical code of symbol within lengths (lengths[symbol] must be non-zero).
  void canonical(const std::vector<unsigned>& lengths, unsigned symbol);
};

// 0x78 0x01 in front of raw DEFLATE data, and four trailer bytes that nobody reads.
Bytes zlibWrap(const Bytes& deflate);

// zlib's deflate with full control over its parameters.
Bytes zlibCompress(const Bytes& data, int level, int windowBits = 15, int memLevel = 8,
                   int strategy = 0);

// PNG files.
Bytes pngChunk(const char* type, const Bytes& data);  // with its CRC, for libpng's sake
Bytes pngHeader(uint32_t width, uint32_t height, int depth, int colourType, int interlace = 0,
                int compression = 0, int filter = 0);  // signature + IHDR chunk
Bytes concat(std::initializer_list<Bytes> parts);

// Filters and, when interlace is set, Adam7-splits a raw image given as rows of
// (width * bpp + 7) / 8 bytes. Row r of each pass uses filter type
// filterOf(pass, r) (pass 0 for a plain image); types above 4 are written as
// given, unfiltered.
Bytes makeScanlines(const Bytes& raw, uint32_t width, uint32_t height, unsigned bpp, bool interlace,
                    unsigned (*filterOf)(int pass, uint32_t row));

// A whole PNG file of the raw image (rows padded to bytes), optional PLTE and tRNS.
Bytes makePng(const Bytes& raw, uint32_t width, uint32_t height, int depth, int colourType,
              bool interlace, const Bytes& palette = {}, const Bytes& trns = {},
              unsigned (*filterOf)(int, uint32_t) = nullptr);

// libpng's decoding of a PNG held in memory, transformed to 8-bit RGBA the way
// our decoder outputs it. Returns false (with the message) when libpng refuses.
bool libpngDecode(const Bytes& file, Bytes& rgba, uint32_t& width, uint32_t& height,
                  std::string& message, bool ignoreCrc = false);

Bytes readFile(const std::string& path);

// Deterministic pseudo-random bytes.
Bytes randomBytes(size_t count, uint32_t seed);
