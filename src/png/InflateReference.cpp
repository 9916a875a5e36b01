// The inflater as a plain walk: every Huffman symbol decoded one bit at a time
// down its tree, every field read bit by bit, every copy byte by byte. It is
// the definition that decompressZlib's table-driven decoder must match code
// for code, and the tests and the fuzz target hold the two side by side.
//
// The order of the checks is part of the contract: a damaged stream reports
// the first failure it meets. Every read of a fixed-width field is bounded by
// the data, so a truncated stream ends in an end-of-data code and never in a
// read past its last byte.
#include <cstring>

#include "png/Inflate.h"
#include "png/InflateTables.h"

using namespace deflate_format;

namespace {

// Records a failure unless one is recorded already: the first failure met is
// the one reported.
inline void Fail(InflateError& error, InflateError code) {
  if (error == InflateError::None) error = code;
}

// One decompression: the first failure and the trees of the current block.
// Each Huffman block rebuilds the trees it uses, fixed ones included.
struct Walk {
  InflateError error = InflateError::None;
  CodeTree literals;
  CodeTree distances;
  CodeTree codeLengths;
  std::vector<unsigned char>& out;
  size_t outPos = 0;
  size_t limit;
};

// The end-of-data check: has the bit position reached the end of the data?
inline bool AtEnd(const BitStream& bits) { return bits.position / 8 >= bits.size; }

inline unsigned ReadBit(BitStream& bits) {
  const unsigned bit = (bits.data[bits.position >> 3] >> (bits.position & 7)) & 1u;
  ++bits.position;
  return bit;
}

// Reads an n-bit value, first bit least significant. A field that would run
// past the data records endCode instead and reads nothing.
unsigned ReadBits(BitStream& bits, unsigned n, InflateError& error, InflateError endCode) {
  if (bits.position + n > bits.size * 8) {
    Fail(error, endCode);
    return 0;
  }
  unsigned value = 0;
  for (unsigned i = 0; i < n; ++i) value |= ReadBit(bits) << i;
  return value;
}

void ReadDynamicTrees(Walk& walk, BitStream& bits) {
  InflateError& error = walk.error;
  if (AtEnd(bits)) return Fail(error, InflateError::DynamicHeaderPastEnd);
  const unsigned literalCount = ReadBits(bits, 5, error, InflateError::DynamicHeaderPastEnd) + 257;
  const unsigned distanceCount = ReadBits(bits, 5, error, InflateError::DynamicHeaderPastEnd) + 1;
  const unsigned codeLengthCount = ReadBits(bits, 4, error, InflateError::DynamicHeaderPastEnd) + 4;
  unsigned codeLengthLengths[CodeLengthSymbols] = {};
  for (unsigned i = 0; i < codeLengthCount; ++i)
    codeLengthLengths[CodeLengthOrder[i]] = ReadBits(bits, 3, error, InflateError::DynamicHeaderPastEnd);
  if (error != InflateError::None) return;
  error = buildCodeTree(walk.codeLengths, codeLengthLengths, CodeLengthSymbols, MaxCodeLengthCodeLength);
  if (error != InflateError::None) return;

  // Literal/length and distance lengths form one sequence: a repeat may carry
  // the last literal length over into the distance part.
  unsigned sequence[LiteralSymbols + DistanceSymbols] = {};
  const unsigned total = literalCount + distanceCount;
  unsigned i = 0;
  while (i < total) {
    const unsigned symbol = decodeSymbol(walk.codeLengths, bits, error);
    if (error != InflateError::None) return;
    if (symbol < 16) {
      sequence[i++] = symbol;
      continue;
    }
    if (AtEnd(bits)) return Fail(error, InflateError::RepeatCountPastEnd);
    unsigned count, value = 0;
    InflateError overrun;
    if (symbol == 16) {
      count = ReadBits(bits, 2, error, InflateError::RepeatCountPastEnd) + 3;
      if (error != InflateError::None) return;
      if (i == 0) return Fail(error, InflateError::RepeatWithoutPrevious);
      value = sequence[i - 1];
      overrun = InflateError::RepeatOverrun;
    } else if (symbol == 17) {
      count = ReadBits(bits, 3, error, InflateError::RepeatCountPastEnd) + 3;
      overrun = InflateError::ShortZeroRunOverrun;
    } else {
      count = ReadBits(bits, 7, error, InflateError::RepeatCountPastEnd) + 11;
      overrun = InflateError::LongZeroRunOverrun;
    }
    if (error != InflateError::None) return;
    for (unsigned n = 0; n < count; ++n) {
      if (i >= total) return Fail(error, overrun);
      sequence[i++] = value;
    }
  }

  unsigned literalLengths[LiteralSymbols] = {};
  unsigned distanceLengths[DistanceSymbols] = {};
  std::memcpy(literalLengths, sequence, literalCount * sizeof(unsigned));
  std::memcpy(distanceLengths, sequence + literalCount, distanceCount * sizeof(unsigned));
  if (literalLengths[EndOfBlock] == 0) return Fail(error, InflateError::NoEndOfBlockCode);
  error = buildCodeTree(walk.literals, literalLengths, LiteralSymbols, MaxCodeLength);
  if (error != InflateError::None) return;
  error = buildCodeTree(walk.distances, distanceLengths, DistanceSymbols, MaxCodeLength);
}

void BuildFixedTrees(Walk& walk) {
  unsigned lengths[LiteralSymbols];
  for (unsigned s = 0; s < LiteralSymbols; ++s) lengths[s] = FixedLiteralLength(s);
  buildCodeTree(walk.literals, lengths, LiteralSymbols, MaxCodeLength);
  for (unsigned s = 0; s < DistanceSymbols; ++s) lengths[s] = FixedDistanceLength;
  buildCodeTree(walk.distances, lengths, DistanceSymbols, MaxCodeLength);
}

// Room for n more bytes: geometric growth, never past the limit (the caller
// has checked that the bytes fit it).
void MakeRoom(Walk& walk, size_t n) {
  const size_t needed = walk.outPos + n;
  if (needed > walk.out.size()) walk.out.resize(needed <= walk.limit / 2 ? needed * 2 : walk.limit);
}

void InflateHuffmanBlock(Walk& walk, BitStream& bits, unsigned blockType) {
  InflateError& error = walk.error;
  if (blockType == 1) {
    BuildFixedTrees(walk);
  } else {
    ReadDynamicTrees(walk, bits);
    if (error != InflateError::None) return;
  }
  for (;;) {
    const unsigned symbol = decodeSymbol(walk.literals, bits, error);
    if (error != InflateError::None) return;
    if (symbol == EndOfBlock) return;
    if (symbol < 256) {
      if (walk.outPos >= walk.limit) return Fail(error, InflateError::OutputLimit);
      MakeRoom(walk, 1);
      walk.out[walk.outPos++] = static_cast<unsigned char>(symbol);
      continue;
    }
    if (symbol > 285) continue;  // 286 and 287 carry no meaning: skipped

    if (AtEnd(bits)) return Fail(error, InflateError::ExtraBitsPastEnd);
    const unsigned lengthIndex = symbol - 257;
    const size_t length =
        LengthBase[lengthIndex] + ReadBits(bits, LengthExtra[lengthIndex], error, InflateError::ExtraBitsPastEnd);
    if (error != InflateError::None) return;
    const unsigned distanceSymbol = decodeSymbol(walk.distances, bits, error);
    if (error != InflateError::None) return;
    if (distanceSymbol > 29) return Fail(error, InflateError::BadDistanceSymbol);
    if (AtEnd(bits)) return Fail(error, InflateError::ExtraBitsPastEnd);
    const size_t distance = DistanceBase[distanceSymbol] +
                            ReadBits(bits, DistanceExtra[distanceSymbol], error, InflateError::ExtraBitsPastEnd);
    if (error != InflateError::None) return;
    if (distance > walk.outPos) return Fail(error, InflateError::DistanceTooFar);
    if (length > walk.limit - walk.outPos) return Fail(error, InflateError::OutputLimit);
    MakeRoom(walk, length);
    // Byte by byte: a copy longer than its distance repeats the bytes it has
    // just written.
    for (size_t n = 0; n < length; ++n, ++walk.outPos) walk.out[walk.outPos] = walk.out[walk.outPos - distance];
  }
}

void InflateStoredBlock(Walk& walk, BitStream& bits) {
  bits.position = (bits.position + 7) & ~size_t{7};
  const size_t q = bits.position / 8;
  if (q + 4 > bits.size) return Fail(walk.error, InflateError::BlockHeaderPastEnd);
  const unsigned char* header = bits.data + q;
  const size_t length = header[0] + 256u * header[1];
  const size_t lengthComplement = header[2] + 256u * header[3];
  if (length + lengthComplement != 65535) return Fail(walk.error, InflateError::StoredLengthMismatch);
  if (q + 4 + length > bits.size) return Fail(walk.error, InflateError::StoredDataPastEnd);
  if (length > walk.limit - walk.outPos) return Fail(walk.error, InflateError::OutputLimit);
  if (walk.outPos + length > walk.out.size()) walk.out.resize(walk.outPos + length);
  if (length) std::memcpy(walk.out.data() + walk.outPos, header + 4, length);
  walk.outPos += length;
  bits.position = (q + 4 + length) * 8;
}

}  // namespace

// ---------------------------------------------------------------------------
// Code trees.

InflateError buildCodeTree(CodeTree& tree, const unsigned* lengths, size_t count, unsigned maxLength) {
  if (count < 2 || count > CodeTree::MaxSymbols) return InflateError::OversubscribedCode;  // no tree of that size
  const uint32_t symbols = static_cast<uint32_t>(count);
  tree.symbolCount = symbols;

  // Canonical codes: shorter codes first, and within one length by symbol.
  uint32_t lengthCount[MaxCodeLength + 1] = {};
  if (maxLength > MaxCodeLength) maxLength = MaxCodeLength;
  for (size_t s = 0; s < count; ++s) {
    // Cannot come from a stream: guards direct callers.
    if (lengths[s] > maxLength) return InflateError::OversubscribedCode;
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
  // leaf there gives a node number far out of range, reported at the next bit.
  // That is how an over-subscribed set shows itself.
  uint32_t node = 0;
  uint32_t nodesCreated = 0;
  for (uint32_t s = 0; s < symbols; ++s) {
    const unsigned length = lengths[s];
    if (length == 0) continue;
    const uint32_t symbolCode = nextCode[length]++;
    for (unsigned bit = 0; bit < length; ++bit) {
      if (node > symbols - 2) return InflateError::OversubscribedCode;
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
  return InflateError::None;
}

unsigned decodeSymbol(const CodeTree& tree, BitStream& bits, InflateError& error) {
  const uint32_t symbols = tree.symbolCount;
  uint32_t node = 0;
  for (;;) {
    // Only at byte boundaries: the bit position never stops inside a byte
    // beyond the data.
    if ((bits.position & 7) == 0 && AtEnd(bits)) {
      error = InflateError::SymbolPastEnd;
      return 0;
    }
    const unsigned bit = ReadBit(bits);
    if (node >= symbols) {
      error = InflateError::NoSuchCode;
      return 0;
    }
    const uint32_t value = tree.slots[2 * node + bit];
    if (value < symbols) {
      error = InflateError::None;
      return value;
    }
    node = value - symbols;
  }
}

// ---------------------------------------------------------------------------
// The stream.

InflateError checkZlibHeader(const unsigned char* begin, const unsigned char* end) {
  const size_t n = (begin && end > begin) ? static_cast<size_t>(end - begin) : 0;
  if (n < 2) return InflateError::StreamTooShort;
  const unsigned cmf = begin[0], flg = begin[1];
  if ((cmf * 256 + flg) % 31 != 0) return InflateError::HeaderCheck;
  if ((cmf & 15) != 8 || (cmf >> 4) > 7) return InflateError::HeaderMethod;
  if (flg & 0x20) return InflateError::PresetDictionary;
  return InflateError::None;
}

int decompressZlibReference(std::vector<unsigned char>& out, const unsigned char* begin,
                            const unsigned char* end, size_t outputLimit) {
  const InflateError header = checkZlibHeader(begin, end);
  if (header != InflateError::None) return static_cast<int>(header);

  Walk walk{InflateError::None, {}, {}, {}, out, 0, outputLimit};
  BitStream bits;
  bits.data = begin + 2;
  bits.size = static_cast<size_t>(end - begin) - 2;
  InflateError& error = walk.error;
  while (error == InflateError::None) {
    if (AtEnd(bits)) {
      Fail(error, InflateError::BlockHeaderPastEnd);
      break;
    }
    const unsigned final = ReadBits(bits, 1, error, InflateError::BlockHeaderPastEnd);
    const unsigned blockType = ReadBits(bits, 2, error, InflateError::BlockHeaderPastEnd);
    if (error != InflateError::None) break;
    if (blockType == 3) {
      Fail(error, InflateError::BadBlockType);
      break;
    }
    if (blockType == 0)
      InflateStoredBlock(walk, bits);
    else
      InflateHuffmanBlock(walk, bits, blockType);
    if (final) {
      if (error == InflateError::None) out.resize(walk.outPos);
      break;
    }
  }
  return static_cast<int>(error);
}
