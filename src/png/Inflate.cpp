// Inflater: zlib framing around DEFLATE data, decoded from memory in one call.
//
// Huffman codes are defined by a binary tree walked one bit at a time
// (decodeSymbol). The order of the checks is part of the contract: a damaged
// stream reports the first failure it meets, with the code of the table in
// Inflate.h. Every read of a fixed-width field is bounded by the data, so a
// truncated stream ends in an end-of-data code and never in a read past its
// last byte.
//
// Speed: each tree also gets a table indexed by the next FastBits bits that
// gives the symbol and code length of every code that short. It is consulted
// only when all FastBits bits lie inside the data, where the walk could meet
// neither an end-of-data check nor an empty slot before its leaf, so the table
// gives exactly the walk's result; every other case (long codes, empty
// branches, the last bits of the data) takes the walk itself.
#include "png/Inflate.h"

#include <cstring>

namespace {

// ---------------------------------------------------------------------------
// Static tables of the DEFLATE format.

// Length symbols 257..285: base length and number of extra bits.
constexpr uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                     31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance symbols 0..29: base distance and number of extra bits.
constexpr uint16_t DistanceBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,
                                       33,   49,   65,   97,   129,  193,   257,   385,   513, 769,
                                       1025, 1537, 2049, 3073, 4097, 6145,  8193,  12289, 16385, 24577};
constexpr uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                       6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block stores the code-length code lengths: the
// likely-used lengths come first so that HCLEN can cut off the rare ones.
constexpr uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

constexpr unsigned LiteralSymbols = 288;
constexpr unsigned DistanceSymbols = 32;
constexpr unsigned CodeLengthSymbols = 19;
constexpr unsigned MaxCodeLength = 15;

// 9 bits cover every fixed code and nearly all codes of real dynamic blocks,
// and the table (1 KiB) is cheap to rebuild per block.
constexpr unsigned FastBits = 9;

// Entry: code length << 9 | symbol; 0 = take the tree walk.
struct FastTable {
  uint16_t entry[1u << FastBits];
};

struct DecodingTree {
  CodeTree tree;
  FastTable fast;
};

// One decompression: the error of the first failure and the trees of the
// current block. Each Huffman block rebuilds the trees it uses.
struct Inflater {
  int error = 0;
  DecodingTree literals;
  DecodingTree distances;
  DecodingTree codeLengths;
};

// ---------------------------------------------------------------------------
// Bit reading.

// The end-of-data check: has the bit position reached the end of the data?
inline bool atEnd(const BitStream& bits) { return bits.position / 8 >= bits.size; }

inline unsigned readBit(BitStream& bits) {
  unsigned bit = (bits.data[bits.position >> 3] >> (bits.position & 7)) & 1u;
  ++bits.position;
  return bit;
}

// The next n bits (n <= 24), first bit least significant, without consuming
// them. The caller has made sure that they lie inside the data.
inline uint32_t peekBits(const BitStream& bits, unsigned n) {
  const size_t byte = bits.position >> 3;
  const unsigned char* p = bits.data + byte;
  uint32_t window;
  if (byte + 4 <= bits.size) {
    window = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
  } else {
    window = 0;
    for (size_t i = 0; byte + i < bits.size; ++i) window |= uint32_t{p[i]} << (8 * i);
  }
  return (window >> (bits.position & 7)) & ((1u << n) - 1);
}

// Reads an n-bit value, first bit least significant. A field that would run
// past the data sets error to endCode instead and reads nothing: this is the one
// place where fixed-width fields are bounded.
inline unsigned readBits(BitStream& bits, unsigned n, int& error, int endCode) {
  if (bits.position + n > bits.size * 8) {
    error = endCode;
    return 0;
  }
  const unsigned value = peekBits(bits, n);
  bits.position += n;
  return value;
}

// ---------------------------------------------------------------------------
// Fast tables.

// Fills the table from the tree: every leaf within FastBits steps of the root
// covers all table indices that start with its code (in reading order).
void buildFastTable(DecodingTree& t) {
  const CodeTree& tree = t.tree;
  std::memset(t.fast.entry, 0, sizeof t.fast.entry);
  struct Step {
    uint32_t node;
    unsigned depth;
    uint32_t prefix;
  };
  Step stack[2 * FastBits + 2];
  int top = 0;
  stack[top++] = {0, 0, 0};
  while (top > 0) {
    const Step step = stack[--top];
    if (step.node >= tree.symbolCount) continue;  // the walk reports it
    for (uint32_t b = 0; b < 2; ++b) {
      const uint32_t value = tree.slots[2 * step.node + b];
      const unsigned length = step.depth + 1;
      const uint32_t prefix = step.prefix | (b << step.depth);
      if (value < tree.symbolCount) {
        for (uint32_t i = prefix; i < (1u << FastBits); i += 1u << length)
          t.fast.entry[i] = static_cast<uint16_t>(length << 9 | value);
      } else if (value != CodeTree::Empty && length < FastBits) {
        stack[top++] = {value - tree.symbolCount, length, prefix};
      }
    }
  }
}

int buildDecodingTree(DecodingTree& t, const unsigned* lengths, size_t count) {
  const int error = buildCodeTree(t.tree, lengths, count, MaxCodeLength);
  if (!error) buildFastTable(t);
  return error;
}

inline unsigned decodeFast(const DecodingTree& t, BitStream& bits, int& error) {
  if (bits.position + FastBits <= bits.size * 8) {
    const uint16_t entry = t.fast.entry[peekBits(bits, FastBits)];
    if (entry) {
      bits.position += entry >> 9;
      error = 0;
      return entry & 511u;
    }
  }
  return decodeSymbol(t.tree, bits, error);
}

// ---------------------------------------------------------------------------
// Blocks.

// The fixed trees are the same for every fixed block: built once, copied in.
struct FixedTrees {
  DecodingTree literals, distances;
  FixedTrees() {
    unsigned lengths[LiteralSymbols];
    for (unsigned i = 0; i < 144; ++i) lengths[i] = 8;
    for (unsigned i = 144; i < 256; ++i) lengths[i] = 9;
    for (unsigned i = 256; i < 280; ++i) lengths[i] = 7;
    for (unsigned i = 280; i < 288; ++i) lengths[i] = 8;
    buildDecodingTree(literals, lengths, LiteralSymbols);
    unsigned distanceLengths[DistanceSymbols];
    for (unsigned& length : distanceLengths) length = 5;
    buildDecodingTree(distances, distanceLengths, DistanceSymbols);
  }
};

void buildFixedTrees(Inflater& inflater) {
  static const FixedTrees fixed;
  inflater.literals = fixed.literals;
  inflater.distances = fixed.distances;
}

// Reads the code lengths of a dynamic block and builds its two trees.
void readDynamicTrees(Inflater& inflater, BitStream& bits) {
  int& error = inflater.error;
  if (atEnd(bits)) {
    error = 49;
    return;
  }
  unsigned literalCount = readBits(bits, 5, error, 49) + 257;
  unsigned distanceCount = readBits(bits, 5, error, 49) + 1;
  unsigned codeLengthCount = readBits(bits, 4, error, 49) + 4;
  if (error) return;

  unsigned codeLengthLengths[CodeLengthSymbols] = {};
  for (unsigned i = 0; i < CodeLengthSymbols; ++i) {
    if (i < codeLengthCount) codeLengthLengths[CodeLengthOrder[i]] = readBits(bits, 3, error, 49);
  }
  if (error) return;
  error = buildCodeTree(inflater.codeLengths.tree, codeLengthLengths, CodeLengthSymbols, 7);
  if (error) return;
  buildFastTable(inflater.codeLengths);

  // Literal/length and distance lengths form one sequence: a repeat may carry
  // the last literal length over into the distance part.
  unsigned sequence[LiteralSymbols + DistanceSymbols] = {};
  const unsigned total = literalCount + distanceCount;
  unsigned i = 0;
  while (i < total) {
    unsigned symbol = decodeFast(inflater.codeLengths, bits, error);
    if (error) return;
    if (symbol < 16) {
      sequence[i++] = symbol;
      continue;
    }
    if (atEnd(bits)) {
      error = 50;
      return;
    }
    unsigned count, value = 0;
    int overrun;
    if (symbol == 16) {
      count = readBits(bits, 2, error, 50) + 3;
      if (error) return;
      if (i == 0) {
        error = 16;
        return;
      }
      value = sequence[i - 1];
      overrun = 13;
    } else if (symbol == 17) {
      count = readBits(bits, 3, error, 50) + 3;
      overrun = 14;
    } else {
      count = readBits(bits, 7, error, 50) + 11;
      overrun = 15;
    }
    if (error) return;
    for (unsigned n = 0; n < count; ++n) {
      if (i >= total) {
        error = overrun;
        return;
      }
      sequence[i++] = value;
    }
  }

  unsigned literalLengths[LiteralSymbols] = {};
  unsigned distanceLengths[DistanceSymbols] = {};
  std::memcpy(literalLengths, sequence, literalCount * sizeof(unsigned));
  std::memcpy(distanceLengths, sequence + literalCount, distanceCount * sizeof(unsigned));
  if (literalLengths[256] == 0) {
    error = 64;
    return;
  }
  error = buildDecodingTree(inflater.literals, literalLengths, LiteralSymbols);
  if (error) return;
  error = buildDecodingTree(inflater.distances, distanceLengths, DistanceSymbols);
}

// Room for n more bytes at outPos, growing geometrically but never past limit
// (the caller has checked that outPos + n fits it).
inline void makeRoom(std::vector<unsigned char>& out, size_t outPos, size_t n, size_t limit) {
  const size_t needed = outPos + n;
  if (needed <= out.size()) return;
  out.resize(needed <= limit / 2 ? needed * 2 : limit);
}

void inflateHuffmanBlock(Inflater& inflater, BitStream& bits, std::vector<unsigned char>& out,
                         size_t& outPos, size_t limit, unsigned blockType) {
  int& error = inflater.error;
  if (blockType == 1) {
    buildFixedTrees(inflater);
  } else {
    readDynamicTrees(inflater, bits);
    if (error) return;
  }

  for (;;) {
    unsigned symbol = decodeFast(inflater.literals, bits, error);
    if (error) return;
    if (symbol == 256) return;
    if (symbol < 256) {
      if (outPos >= limit) {
        error = 65;
        return;
      }
      makeRoom(out, outPos, 1, limit);
      out[outPos++] = static_cast<unsigned char>(symbol);
      continue;
    }
    if (symbol > 285) continue;  // 286 and 287 carry no meaning: skipped

    if (atEnd(bits)) {
      error = 51;
      return;
    }
    const unsigned lengthIndex = symbol - 257;
    size_t length = LengthBase[lengthIndex] + readBits(bits, LengthExtra[lengthIndex], error, 51);
    if (error) return;
    unsigned distanceSymbol = decodeFast(inflater.distances, bits, error);
    if (error) return;
    if (distanceSymbol > 29) {
      error = 18;
      return;
    }
    if (atEnd(bits)) {
      error = 51;
      return;
    }
    size_t distance =
        DistanceBase[distanceSymbol] + readBits(bits, DistanceExtra[distanceSymbol], error, 51);
    if (error) return;
    if (distance > outPos) {
      error = 54;
      return;
    }
    if (length > limit - outPos) {
      error = 65;
      return;
    }
    makeRoom(out, outPos, length, limit);
    // A copy longer than its distance repeats the bytes it has just written,
    // as an overlapping back-reference means: byte by byte then, unless it is a
    // run of one byte.
    unsigned char* dst = out.data() + outPos;
    const unsigned char* src = dst - distance;
    if (distance >= length) {
      std::memcpy(dst, src, length);
    } else if (distance == 1) {
      std::memset(dst, *src, length);
    } else {
      for (size_t n = 0; n < length; ++n) dst[n] = src[n];
    }
    outPos += length;
  }
}

void inflateStoredBlock(Inflater& inflater, BitStream& bits, std::vector<unsigned char>& out,
                        size_t& outPos, size_t limit) {
  bits.position = (bits.position + 7) & ~size_t{7};
  const size_t q = bits.position / 8;
  if (q + 4 > bits.size) {
    inflater.error = 52;
    return;
  }
  const unsigned char* header = bits.data + q;
  const size_t length = header[0] + 256u * header[1];
  const size_t lengthComplement = header[2] + 256u * header[3];
  if (length + lengthComplement != 65535) {
    inflater.error = 21;
    return;
  }
  if (q + 4 + length > bits.size) {
    inflater.error = 23;
    return;
  }
  if (length > limit - outPos) {
    inflater.error = 65;
    return;
  }
  if (outPos + length > out.size()) out.resize(outPos + length);
  if (length) std::memcpy(out.data() + outPos, header + 4, length);
  outPos += length;
  bits.position = (q + 4 + length) * 8;
}

}  // namespace

// ---------------------------------------------------------------------------
// Code trees.

int buildCodeTree(CodeTree& tree, const unsigned* lengths, size_t count, unsigned maxLength) {
  if (count < 2 || count > CodeTree::MaxSymbols) return 55;  // no tree of that size
  const uint32_t symbols = static_cast<uint32_t>(count);
  tree.symbolCount = symbols;

  // Canonical codes: shorter codes first, and within one length by symbol.
  uint32_t lengthCount[MaxCodeLength + 1] = {};
  if (maxLength > MaxCodeLength) maxLength = MaxCodeLength;
  for (size_t s = 0; s < count; ++s) {
    if (lengths[s] > maxLength) return 55;  // cannot come from a stream: guards direct callers
    ++lengthCount[lengths[s]];
  }
  lengthCount[0] = 0;
  uint32_t nextCode[MaxCodeLength + 2] = {};
  uint32_t code = 0;
  for (unsigned bits = 1; bits <= maxLength; ++bits) {
    code = (code + lengthCount[bits - 1]) << 1;
    nextCode[bits] = code;
  }

  for (uint32_t i = 0; i < 2 * symbols; ++i) tree.slots[i] = CodeTree::Empty;

  // Each code is walked from its most significant bit. A walk that ends on an
  // occupied slot leaves the next walk starting from wherever it pointed; a
  // leaf there gives a node number far out of range, reported as 55 at the
  // next bit. That is how an over-subscribed set shows itself.
  uint32_t node = 0;
  uint32_t nodesCreated = 0;
  for (uint32_t s = 0; s < symbols; ++s) {
    const unsigned length = lengths[s];
    if (length == 0) continue;
    const uint32_t symbolCode = nextCode[length]++;
    for (unsigned bit = 0; bit < length; ++bit) {
      if (node > symbols - 2) return 55;
      const uint32_t b = (symbolCode >> (length - 1 - bit)) & 1u;
      uint32_t& slot = tree.slots[2 * node + b];
      if (slot == CodeTree::Empty) {
        if (bit + 1 == length) {
          slot = s;
          node = 0;
        } else {
          ++nodesCreated;
          slot = symbols + nodesCreated;
          node = nodesCreated;
        }
      } else {
        node = slot - symbols;  // unsigned: a leaf wraps to a huge node number
      }
    }
  }
  return 0;
}

unsigned decodeSymbol(const CodeTree& tree, BitStream& bits, int& error) {
  const uint32_t symbols = tree.symbolCount;
  uint32_t node = 0;
  for (;;) {
    // Only at byte boundaries: the bit position never stops inside a byte
    // beyond the data.
    if ((bits.position & 7) == 0 && atEnd(bits)) {
      error = 10;
      return 0;
    }
    const unsigned bit = readBit(bits);
    if (node >= symbols) {
      error = 11;
      return 0;
    }
    const uint32_t value = tree.slots[2 * node + bit];
    if (value < symbols) {
      error = 0;
      return value;
    }
    node = value - symbols;
  }
}

// ---------------------------------------------------------------------------
// The stream.

int decompressZlib(std::vector<unsigned char>& out, const unsigned char* begin,
                   const unsigned char* end, size_t outputLimit) {
  const size_t n = (begin && end > begin) ? static_cast<size_t>(end - begin) : 0;
  if (n < 2) return 53;
  const unsigned cmf = begin[0], flg = begin[1];
  if ((cmf * 256 + flg) % 31 != 0) return 24;
  if ((cmf & 15) != 8 || (cmf >> 4) > 7) return 25;
  if (flg & 0x20) return 26;

  Inflater inflater;
  BitStream bits;
  bits.data = begin + 2;
  bits.size = n - 2;
  size_t outPos = 0;
  int& error = inflater.error;
  while (error == 0) {
    if (atEnd(bits)) {
      error = 52;
      break;
    }
    const unsigned final = readBits(bits, 1, error, 52);
    const unsigned blockType = readBits(bits, 2, error, 52);
    if (error) break;
    if (blockType == 3) {
      error = 20;
      break;
    }
    if (blockType == 0)
      inflateStoredBlock(inflater, bits, out, outPos, outputLimit);
    else
      inflateHuffmanBlock(inflater, bits, out, outPos, outputLimit, blockType);
    if (final) {
      if (error == 0) out.resize(outPos);
      break;
    }
  }
  return error;
}
