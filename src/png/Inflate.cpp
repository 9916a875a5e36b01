// Inflater: zlib framing around DEFLATE data, decoded from memory in one call,
// table-driven.
//
// Every result must be exactly what the bit-by-bit walk (InflateReference.cpp)
// gives: the same bytes on success and, on damaged data, the same code from the
// same check. The decoder is built around three facts about that walk.
//
//  * A Huffman symbol is decided by the bits it reads and by nothing else, and
//    it reads a fixed number of them: the code length for a symbol, or the
//    depth of the empty branch it meets plus one for a bit pattern that is no
//    code. A table entry records that count ("needed") with the outcome. The
//    walk runs out of data (10) exactly when needed exceeds the bits left, so
//    one comparison reproduces every end-of-data case, even when the lookup
//    index was padded with zeros past the data: an index that extends the real
//    bits either gives the walk's answer or needs more bits than there are.
//  * For code lengths whose codes fit the code space (complete or incomplete
//    sets) the tree the walk builds is the plain trie of the canonical codes,
//    so tables built from the lengths decode exactly like it. The build still
//    fails (55) when that trie needs more internal nodes than the alphabet
//    allows, which the table build counts. Over-subscribed sets either fail or
//    build trees of their own shape; those blocks (damaged data only) decode
//    symbol by symbol with the tree walk itself.
//  * Inside the data, no end-of-data check can fire. A fast loop runs while at
//    least 32 input bytes and 300 bytes of output room remain, with a 64-bit
//    bit buffer refilled by whole words and word-sized match copies; near
//    either end, a careful step decodes one symbol at a time with every check
//    in the walk's order.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "png/Inflate.h"
#include "png/InflateTables.h"

using namespace deflate_format;

namespace {

// ---------------------------------------------------------------------------
// Table entries: one 32-bit word per bit pattern.
//
// A literal/length table entry that decodes literals:
//   bits 0..5   bits consumed: the codes of all its literals
//   bits 6..7   how many literals it holds, 1 to 3 (see AddLiteralRuns)
//   bits 8..31  the literals, the first in bits 8..15
// Every other entry has bits 6 and 7 clear:
//   bits 0..5   bits consumed: the code and, for a length or distance, its
//               extra bits (for a subtable link: the bits of the main index),
//               so that one shift takes them all
//   bits 8..12  needed: bits the walk reads for this pattern, the code length
//               for a symbol (for a link: the subtable's index bits)
//   bit 13      LeadingLiteral: a literal comes before the length, its byte
//               in the table's leadingLiteral at the entry's index; needed
//               and consumed count its code too (see AddLiteralThenLength)
//   bit 14      Link: look the next bits up in the subtable at value
//   bit 15      NoCode: the walk meets an empty branch (11 when needed fits)
//   bit 16      Special: end of block or symbol 286/287 (literal/length),
//               symbol 30 or 31 (distance)
//   bits 17..31 base length or distance, code-length symbol, end-of-block
//               marker, or subtable offset
// A literal entry has no room for the code length of its first literal, which
// the careful step needs: the table keeps those beside its entries.
constexpr uint32_t ConsumedMask = 63;
constexpr unsigned LiteralCountShift = 6;
constexpr uint32_t LiteralCount = 3u << LiteralCountShift;
constexpr uint32_t LeadingLiteral = 1u << 13;
constexpr uint32_t Link = 1u << 14;
constexpr uint32_t NoCode = 1u << 15;
constexpr uint32_t Special = 1u << 16;
constexpr uint32_t Exceptional = Link | NoCode | Special;
constexpr unsigned ValueShift = 17;
constexpr uint32_t EndOfBlockValue = 1;  // value of the Special entry of symbol 256; 286 and 287 have 0

inline uint32_t EntryValue(uint32_t e) { return e >> ValueShift; }
inline unsigned EntryConsumed(uint32_t e) { return e & ConsumedMask; }
inline unsigned EntryNeeded(uint32_t e) { return (e >> 8) & 31; }
inline bool IsLiteral(uint32_t e) { return (e & LiteralCount) != 0; }
inline unsigned char FirstLiteral(uint32_t e) { return static_cast<unsigned char>(e >> 8); }
inline uint32_t LiteralEntry(unsigned byte, unsigned length) {
  return byte << 8 | 1u << LiteralCountShift | length;
}
inline unsigned EntryExtra(uint32_t e) { return EntryConsumed(e) - EntryNeeded(e); }
inline uint32_t CodeEntry(unsigned length, unsigned extra = 0) { return length << 8 | (length + extra); }

// Main index widths. Twelve bits hold nearly every literal/length code of real
// data and leave room for runs of short literals (AddLiteralRuns); eleven
// pair too few of them and thirteen cost more to fill for every block than the
// pairs save. Distance codes are fewer and shorter.
constexpr unsigned LiteralBits = 12;
constexpr unsigned DistanceBits = 8;
constexpr unsigned CodeLengthBits = 7;  // code-length codes are at most 7 bits: no subtables

// Room for the main table and the worst case of subtables: one per symbol with
// a code longer than the main index, each at most 2^(15 - bits) entries.
constexpr size_t LiteralTableSize = (1u << LiteralBits) + LiteralSymbols * (1u << (MaxCodeLength - LiteralBits));
constexpr size_t DistanceTableSize =
    (1u << DistanceBits) + DistanceSymbols * (1u << (MaxCodeLength - DistanceBits));
constexpr size_t CodeLengthTableSize = 1u << CodeLengthBits;

// A decoding table, or the tree of an over-subscribed code that still builds
// (walked is then set and the table is unused).
template <size_t Size>
struct Table {
  bool walked = false;
  CodeTree tree;
  uint8_t literalLength[256];  // literal/length tables: each literal's code length
  uint8_t leadingLiteral[1u << LiteralBits];  // the literal of each main entry with LeadingLiteral
  uint32_t entry[Size];
};
using LiteralTable = Table<LiteralTableSize>;
using DistanceTable = Table<DistanceTableSize>;
using CodeLengthTable = Table<CodeLengthTableSize>;

enum class Alphabet { Literal, Distance, CodeLength };

inline uint32_t SymbolEntry(Alphabet alphabet, unsigned symbol, unsigned length) {
  switch (alphabet) {
    case Alphabet::Literal:
      if (symbol < 256) return LiteralEntry(symbol, length);
      if (symbol == EndOfBlock) return EndOfBlockValue << ValueShift | Special | CodeEntry(length);
      if (symbol > 285) return Special | CodeEntry(length);
      return uint32_t{LengthBase[symbol - 257]} << ValueShift | CodeEntry(length, LengthExtra[symbol - 257]);
    case Alphabet::Distance:
      if (symbol > 29) return Special | CodeEntry(length);
      return uint32_t{DistanceBase[symbol]} << ValueShift | CodeEntry(length, DistanceExtra[symbol]);
    case Alphabet::CodeLength:
      break;
  }
  return symbol << ValueShift | CodeEntry(length);
}

struct ByteReversal {
  uint8_t table[256];
  constexpr ByteReversal() : table() {
    for (unsigned b = 0; b < 256; ++b)
      for (unsigned i = 0; i < 8; ++i) table[b] |= static_cast<uint8_t>(((b >> i) & 1) << (7 - i));
  }
};
constexpr ByteReversal byteReversal;

// The low `length` bits of code in reverse order (length at most 16).
inline uint32_t Reverse(uint32_t code, unsigned length) {
  return (uint32_t{byteReversal.table[code & 255]} << 8 | byteReversal.table[(code >> 8) & 255]) >> (16 - length);
}

// Codes are handled as 15-bit values aligned to the left: a code of length L
// covers [code, code + 2^(15 - L)), and the canonical codes fill the code space
// from 0 upward without gaps, shorter codes first. For a pattern x (aligned,
// at or past the filled space, which ends at filled) the walk follows x while
// its prefixes are internal nodes, that is while a prefix of length m starts
// below filled; it meets the empty branch one bit after the longest such
// prefix, and reads one bit more before it gives up.
inline uint32_t NoCodeEntry(uint32_t x, uint32_t filled, unsigned bits) {
  unsigned m = 0;
  for (unsigned k = bits; k-- > 0;) {
    if (((x >> (MaxCodeLength - k)) << (MaxCodeLength - k)) < filled) {
      m = k;
      break;
    }
  }
  return NoCode | CodeEntry(m + 2);
}

// Where a literal's code leaves room in the main index for the whole codes of
// one or two more literals, its entry decodes them all: the entry holds up to
// three bytes, their count, and the bits of all their codes as consumed. The
// careful step, which takes one symbol at a time, uses only the first byte
// and the table's own record of its code length. Filtered image rows are
// mostly small differences with codes of a few bits: two or three of them in
// one lookup cut the rounds of the fast loop there, and the rounds are what
// costs, each one waiting for the lookup before it.
//
// The runs are written symbol by symbol, never by scanning the table: a table
// is built for every block, and only the entries that change are worth
// touching. Each run writes at least one entry, so a block pays at most about
// three writes per main entry.
struct ShortLiteral {
  uint16_t reversed;  // the code, first bit lowest, as the table is indexed
  uint8_t length;
  uint8_t byte;
};

void AddLiteralRuns(uint32_t* main, unsigned mainBits, const ShortLiteral* literals, unsigned count) {
  const uint32_t mainSize = 1u << mainBits;
  const unsigned shortest = literals[0].length;
  // In canonical order the lengths never fall: each loop ends at the first
  // code too long to fit.
  for (unsigned i = 0; i < count && literals[i].length + shortest <= mainBits; ++i) {
    const ShortLiteral first = literals[i];
    for (unsigned j = 0; j < count && first.length + literals[j].length <= mainBits; ++j) {
      const ShortLiteral second = literals[j];
      const unsigned two = first.length + second.length;
      const uint32_t twoCode = first.reversed | uint32_t{second.reversed} << first.length;
      const uint32_t bytes = uint32_t{second.byte} << 16 | uint32_t{first.byte} << 8;
      const uint32_t pair = bytes | 2u << LiteralCountShift | two;
      for (uint32_t k = twoCode; k < mainSize; k += 1u << two) main[k] = pair;
      // The triples under this pair's code overwrite some of what it wrote.
      for (unsigned m = 0; m < count && two + literals[m].length <= mainBits; ++m) {
        const ShortLiteral third = literals[m];
        const unsigned three = two + third.length;
        const uint32_t triple = uint32_t{third.byte} << 24 | bytes | 3u << LiteralCountShift | three;
        for (uint32_t k = twoCode | uint32_t{third.reversed} << two; k < mainSize; k += 1u << three) main[k] = triple;
      }
    }
  }
}

// Where a literal's code leaves room in the main index for the whole code of
// a length after it, the entry of those bits decodes both: it is the
// length's entry with LeadingLiteral set and the literal's code counted in
// needed and consumed (the extra bits then start where they should), and the
// literal's byte goes beside the entry in leadingLiteral. In image data a
// literal is as often followed by a match as by another literal: this takes
// the fast loop's round of the lone literal out of the path to the match.
// The careful step takes such an entry as its literal alone.
struct ShortLength {
  uint16_t reversed;
  uint8_t length;
  uint32_t entry;
};

void AddLiteralThenLength(uint32_t* main, uint8_t* leading, unsigned mainBits, const ShortLiteral* literals,
                          unsigned literalCount, const ShortLength* lengths, unsigned lengthCount) {
  const uint32_t mainSize = 1u << mainBits;
  for (unsigned i = 0; i < literalCount && literals[i].length + lengths[0].length <= mainBits; ++i) {
    const ShortLiteral literal = literals[i];
    for (unsigned j = 0; j < lengthCount && literal.length + lengths[j].length <= mainBits; ++j) {
      const uint32_t entry = (lengths[j].entry + (literal.length << 8) + literal.length) | LeadingLiteral;
      const unsigned both = literal.length + lengths[j].length;
      for (uint32_t k = literal.reversed | uint32_t{lengths[j].reversed} << literal.length; k < mainSize;
           k += 1u << both) {
        main[k] = entry;
        leading[k] = literal.byte;
      }
    }
  }
}

// Builds the table of the given code lengths (count of them, each at most
// maxLength), with the result codes the walk's tree build gives.
template <size_t Size>
InflateError BuildTable(Table<Size>& table, const uint8_t* lengths, unsigned count, unsigned maxLength,
                        unsigned mainBits, Alphabet alphabet) {
  unsigned lengthCount[MaxCodeLength + 1] = {};
  for (unsigned s = 0; s < count; ++s) ++lengthCount[lengths[s]];
  uint32_t filled = 0;  // the code space taken, in units of 2^-15
  for (unsigned l = 1; l <= MaxCodeLength; ++l) filled += lengthCount[l] << (MaxCodeLength - l);

  if (filled > (1u << MaxCodeLength)) {
    // Over-subscribed: only the tree build itself knows whether it fails and
    // what shape it leaves.
    unsigned wide[CodeTree::MaxSymbols];
    for (unsigned s = 0; s < count; ++s) wide[s] = lengths[s];
    const InflateError error = buildCodeTree(table.tree, wide, count, maxLength);
    table.walked = error == InflateError::None;
    return error;
  }
  table.walked = false;

  // Symbols in canonical order: by length, then by symbol.
  uint16_t offset[MaxCodeLength + 2] = {};
  for (unsigned l = 1; l <= MaxCodeLength; ++l) offset[l + 1] = offset[l] + lengthCount[l];
  uint16_t sorted[CodeTree::MaxSymbols];
  for (unsigned s = 0; s < count; ++s)
    if (lengths[s]) sorted[offset[lengths[s]]++] = static_cast<uint16_t>(s);
  const unsigned coded = count - lengthCount[0];

  // The trie has one internal node per distinct proper prefix of the codes;
  // the tree build refuses more than count - 1 of them (the root included).
  // In canonical order a code shares the most prefixes with the code before it.
  {
    unsigned nodes = 0;
    uint32_t code = 0, previous = 0;
    for (unsigned i = 0; i < coded; ++i) {
      const unsigned length = lengths[sorted[i]];
      const unsigned shared = i ? static_cast<unsigned>(__builtin_clz(previous ^ code)) - (32 - MaxCodeLength) : 0;
      nodes += length - 1 - shared;
      previous = code;
      code += 1u << (MaxCodeLength - length);
    }
    if (nodes > count - 2) return InflateError::OversubscribedCode;
  }

  const bool complete = filled == (1u << MaxCodeLength);
  uint32_t* main = table.entry;
  const uint32_t mainSize = 1u << mainBits;
  if (!complete) std::memset(main, 0, mainSize * sizeof(uint32_t));
  uint32_t used = mainSize;  // next free subtable slot
  ShortLiteral shortLiterals[256];
  unsigned shortCount = 0;
  ShortLength shortLengths[29];
  unsigned shortLengthCount = 0;
  uint32_t subPrefix = ~0u, subStart = 0, subBits = 0;
  // The main table is filled as a table of 2^filledBits entries that doubles
  // (the lower half copied to the upper) before the first code of each
  // greater length: every code is stored once, at its own index, and the
  // copies repeat it under every pattern of the bits beyond it. Longer codes
  // never share an index with a shorter code's copies: no code is the prefix
  // of another.
  unsigned filledBits = 0;
  auto growTo = [&](unsigned bits) {
    for (; filledBits < bits; ++filledBits)
      std::memcpy(main + (1u << filledBits), main, (size_t{1} << filledBits) * sizeof(uint32_t));
  };
  uint32_t code = 0;
  for (unsigned i = 0; i < coded; ++i) {
    const unsigned symbol = sorted[i];
    const unsigned length = lengths[symbol];
    const uint32_t reversed = Reverse(code >> (MaxCodeLength - length), length);
    const uint32_t entry = SymbolEntry(alphabet, symbol, length);
    if (alphabet == Alphabet::Literal && symbol < 256) table.literalLength[symbol] = static_cast<uint8_t>(length);
    if (alphabet == Alphabet::Literal && symbol < 256 && length < mainBits)
      shortLiterals[shortCount++] = {static_cast<uint16_t>(reversed), static_cast<uint8_t>(length),
                                     static_cast<uint8_t>(symbol)};
    if (alphabet == Alphabet::Literal && symbol > EndOfBlock && symbol < 286 && length < mainBits)
      shortLengths[shortLengthCount++] = {static_cast<uint16_t>(reversed), static_cast<uint8_t>(length), entry};
    if (length <= mainBits) {
      growTo(length);
      main[reversed] = entry;
    } else {
      growTo(mainBits);
      const uint32_t prefix = reversed & (mainSize - 1);
      if (prefix != subPrefix) {
        // A new subtable, wide enough for the longest code under this prefix
        // (the last one in canonical order).
        const uint32_t top = code >> (MaxCodeLength - mainBits);
        unsigned j = i;
        uint32_t c = code;
        while (j + 1 < coded) {
          const uint32_t next = c + (1u << (MaxCodeLength - lengths[sorted[j]]));
          if (next >> (MaxCodeLength - mainBits) != top) break;
          c = next;
          ++j;
        }
        subPrefix = prefix;
        subBits = lengths[sorted[j]] - mainBits;
        subStart = used;
        used += 1u << subBits;
        if (!complete) std::memset(main + subStart, 0, (size_t{1} << subBits) * sizeof(uint32_t));
        main[prefix] = subStart << ValueShift | subBits << 8 | Link | mainBits;  // consumes the main index
      }
      for (uint32_t k = reversed >> mainBits; k < (1u << subBits); k += 1u << (length - mainBits))
        main[subStart + k] = entry;
    }
    code += 1u << (MaxCodeLength - length);
  }
  growTo(mainBits);

  if (!complete) {
    // The patterns past the filled space: in the main table, and in the one
    // subtable that straddles its end, if any.
    for (uint32_t k = 0; k < mainSize; ++k) {
      if (main[k]) continue;
      main[k] = NoCodeEntry(Reverse(k, mainBits) << (MaxCodeLength - mainBits), filled, mainBits);
    }
    for (uint32_t k = 0; subPrefix != ~0u && k < (1u << subBits); ++k) {
      if (main[subStart + k]) continue;
      const unsigned bits = mainBits + subBits;
      const uint32_t x = (Reverse(subPrefix, mainBits) << subBits | Reverse(k, subBits)) << (MaxCodeLength - bits);
      main[subStart + k] = NoCodeEntry(x, filled, bits);
    }
  }

  if (shortCount) AddLiteralRuns(main, mainBits, shortLiterals, shortCount);
  if (shortCount && shortLengthCount)
    AddLiteralThenLength(main, table.leadingLiteral, mainBits, shortLiterals, shortCount, shortLengths,
                         shortLengthCount);
  return InflateError::None;
}

// The fixed codes, the same for every fixed block: built once.
struct FixedTables {
  LiteralTable literals;
  DistanceTable distances;
  FixedTables() {
    uint8_t lengths[LiteralSymbols];
    for (unsigned s = 0; s < LiteralSymbols; ++s) lengths[s] = static_cast<uint8_t>(FixedLiteralLength(s));
    BuildTable(literals, lengths, LiteralSymbols, MaxCodeLength, LiteralBits, Alphabet::Literal);
    for (unsigned s = 0; s < DistanceSymbols; ++s) lengths[s] = FixedDistanceLength;
    BuildTable(distances, lengths, DistanceSymbols, MaxCodeLength, DistanceBits, Alphabet::Distance);
  }
};

// ---------------------------------------------------------------------------
// Bits.

// The compressed data (after the zlib header) and a bit buffer over it. The
// low `count` bits of `buffer` are the next bits of the stream; bits above them
// are either zero or the stream's own following bits, so they can be looked
// up and OR-ed over again by the next refill without harm. The walk's bit
// position is next * 8 - count.
struct Bits {
  const unsigned char* data;
  size_t size;
  size_t next = 0;  // bytes loaded into the buffer
  uint64_t buffer = 0;
  unsigned count = 0;

  size_t Position() const { return next * 8 - count; }
  size_t Left() const { return (size - next) * 8 + count; }
  bool AtEnd() const { return Left() == 0; }

  // At least 56 bits; only while 8 bytes lie ahead of next.
  void RefillFast() {
    uint64_t word;
    std::memcpy(&word, data + next, 8);
    buffer |= word << count;
    next += (63 - count) >> 3;
    count |= 56;
  }
  // At least 56 bits or all that remain (and never 64, which RefillFast
  // could not shift by).
  void RefillCareful() {
    while (count < 56 && next < size) {
      buffer |= uint64_t{data[next++]} << count;
      count += 8;
    }
  }
  void Refill() {
    if (next + 8 <= size)
      RefillFast();
    else
      RefillCareful();
  }
  void Consume(unsigned n) {
    buffer >>= n;
    count -= n;
  }
  // Reads an n-bit field; one that would run past the data gives endCode and
  // reads nothing.
  unsigned Read(unsigned n, InflateError& error, InflateError endCode) {
    Refill();
    if (n > count) {  // after the refill, count falls short only at the end of the data
      error = endCode;
      return 0;
    }
    const unsigned value = static_cast<unsigned>(buffer & ((uint64_t{1} << n) - 1));
    Consume(n);
    return value;
  }
  void Seek(size_t position) {
    next = position / 8;
    buffer = 0;
    count = 0;
    RefillCareful();
    Consume(position % 8);
  }
};

// One symbol, with the walk's checks: 10 when the bits run out first, 11 for
// no code. Returns the entry of the symbol.
template <size_t Size>
uint32_t DecodeCareful(const Table<Size>& table, unsigned mainBits, Alphabet alphabet, Bits& bits,
                       InflateError& error) {
  if (table.walked) {
    BitStream stream{bits.data, bits.size, bits.Position()};
    const unsigned symbol = decodeSymbol(table.tree, stream, error);
    bits.Seek(stream.position);
    return error == InflateError::None ? SymbolEntry(alphabet, symbol, 0) : 0;
  }
  bits.Refill();
  uint32_t entry = table.entry[bits.buffer & ((1u << mainBits) - 1)];
  // A literal entry's flag bits are its bytes, and it may hold more literals
  // than this one symbol.
  if (!IsLiteral(entry) && (entry & LeadingLiteral))
    entry = LiteralEntry(table.leadingLiteral[bits.buffer & ((1u << mainBits) - 1)], 0);
  if (IsLiteral(entry)) {
    const unsigned needed = table.literalLength[FirstLiteral(entry)];
    if (needed > bits.count) {
      error = InflateError::SymbolPastEnd;
      return 0;
    }
    bits.Consume(needed);
    return entry;
  }
  if (entry & Link)
    entry = table.entry[EntryValue(entry) + ((bits.buffer >> mainBits) & ((1u << EntryNeeded(entry)) - 1))];
  const unsigned needed = IsLiteral(entry) ? table.literalLength[FirstLiteral(entry)] : EntryNeeded(entry);
  if (needed > bits.count) {
    error = InflateError::SymbolPastEnd;
    return 0;
  }
  if (!IsLiteral(entry) && (entry & NoCode)) {
    error = InflateError::NoSuchCode;
    return 0;
  }
  bits.Consume(needed);  // the code only: the careful step reads the extra bits itself
  return entry;
}

// ---------------------------------------------------------------------------
// Output.

struct Output {
  std::vector<unsigned char>& out;
  size_t position = 0;
  size_t limit;
  // The vector is never grown past this: the larger of its incoming size and
  // the limit.
  size_t ceiling;

  // Room for n more bytes (the caller has checked them against the limit).
  void MakeRoom(size_t n) {
    const size_t needed = position + n;
    if (needed <= out.size()) return;
    size_t grown = needed <= ceiling / 2 ? needed * 2 : ceiling;
    if (grown < 4096 && ceiling >= 4096) grown = 4096;
    out.resize(grown);
  }
};

// ---------------------------------------------------------------------------
// Blocks.

struct DynamicTables {
  LiteralTable literals;
  DistanceTable distances;
  CodeLengthTable codeLengths;
};

InflateError ReadDynamicTables(DynamicTables& tables, Bits& bits) {
  InflateError error = InflateError::None;
  if (bits.AtEnd()) return InflateError::DynamicHeaderPastEnd;
  const unsigned literalCount = bits.Read(5, error, InflateError::DynamicHeaderPastEnd) + 257;
  if (error != InflateError::None) return error;
  const unsigned distanceCount = bits.Read(5, error, InflateError::DynamicHeaderPastEnd) + 1;
  if (error != InflateError::None) return error;
  const unsigned codeLengthCount = bits.Read(4, error, InflateError::DynamicHeaderPastEnd) + 4;
  if (error != InflateError::None) return error;
  uint8_t codeLengthLengths[CodeLengthSymbols] = {};
  for (unsigned i = 0; i < codeLengthCount; ++i) {
    codeLengthLengths[CodeLengthOrder[i]] =
        static_cast<uint8_t>(bits.Read(3, error, InflateError::DynamicHeaderPastEnd));
    if (error != InflateError::None) return error;
  }
  error = BuildTable(tables.codeLengths, codeLengthLengths, CodeLengthSymbols, MaxCodeLengthCodeLength,
                     CodeLengthBits, Alphabet::CodeLength);
  if (error != InflateError::None) return error;

  // Literal/length and distance lengths form one sequence: a repeat may carry
  // the last literal length over into the distance part.
  uint8_t sequence[LiteralSymbols + DistanceSymbols] = {};
  const unsigned total = literalCount + distanceCount;
  unsigned i = 0;
  while (i < total) {
    const uint32_t entry =
        DecodeCareful(tables.codeLengths, CodeLengthBits, Alphabet::CodeLength, bits, error);
    if (error != InflateError::None) return error;
    const unsigned symbol = EntryValue(entry);
    if (symbol < 16) {
      sequence[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    if (bits.AtEnd()) return InflateError::RepeatCountPastEnd;
    unsigned count;
    uint8_t value = 0;
    InflateError overrun;
    if (symbol == 16) {
      count = bits.Read(2, error, InflateError::RepeatCountPastEnd) + 3;
      if (error != InflateError::None) return error;
      if (i == 0) return InflateError::RepeatWithoutPrevious;
      value = sequence[i - 1];
      overrun = InflateError::RepeatOverrun;
    } else if (symbol == 17) {
      count = bits.Read(3, error, InflateError::RepeatCountPastEnd) + 3;
      overrun = InflateError::ShortZeroRunOverrun;
    } else {
      count = bits.Read(7, error, InflateError::RepeatCountPastEnd) + 11;
      overrun = InflateError::LongZeroRunOverrun;
    }
    if (error != InflateError::None) return error;
    if (count > total - i) return overrun;
    std::memset(sequence + i, value, count);
    i += count;
  }

  uint8_t literalLengths[LiteralSymbols] = {};
  uint8_t distanceLengths[DistanceSymbols] = {};
  std::memcpy(literalLengths, sequence, literalCount);
  std::memcpy(distanceLengths, sequence + literalCount, distanceCount);
  if (literalLengths[EndOfBlock] == 0) return InflateError::NoEndOfBlockCode;
  error = BuildTable(tables.literals, literalLengths, LiteralSymbols, MaxCodeLength, LiteralBits, Alphabet::Literal);
  if (error != InflateError::None) return error;
  return BuildTable(tables.distances, distanceLengths, DistanceSymbols, MaxCodeLength, DistanceBits,
                    Alphabet::Distance);
}

inline uint64_t Load64(const unsigned char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
inline void Store64(unsigned char* p, uint64_t v) { std::memcpy(p, &v, 8); }
inline void Store32(unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); }

// Bytes a fast step may write past the end of its copy, and the output room
// the fast loop keeps: a longest copy and that overrun. Input: the loop
// refills once a round, moving on at most 7 bytes, with an 8-byte load.
constexpr size_t CopyOverrun = 32;
constexpr size_t FastOutputRoom = MaxMatchLength + CopyOverrun + 16;
constexpr size_t FastInputRoom = 32;

// The copy of a back-reference closer than 16 bytes (distance <= dst - start),
// writing whole words: up to CopyOverrun bytes past its end get scratch. Out
// of line: these copies are rare outside runs of repeated bytes or pixels,
// and the fast loop's registers are better spent on the rest.
__attribute__((noinline)) void CopyNearMatch(unsigned char* dst, size_t distance, size_t length) {
  unsigned char* const end = dst + length;
  const unsigned char* src = dst - distance;
  if (distance >= 8) {
    Store64(dst, Load64(src));
    Store64(dst + 8, Load64(src + 8));
    Store64(dst + 16, Load64(src + 16));
    Store64(dst + 24, Load64(src + 24));
    dst += 32;
    src += 32;
    while (dst < end) {
      Store64(dst, Load64(src));
      dst += 8;
      src += 8;
    }
    return;
  }
  // The last `distance` bytes repeated into a word.
  uint64_t pattern = Load64(src) & (~uint64_t{0} >> (64 - 8 * distance));
  for (size_t width = distance; width < 8; width *= 2) pattern |= pattern << (8 * width);
  if (8 % distance == 0) {
    // 1, 2 and 4: the word repeats itself, so two of it make 16 bytes, and
    // runs of one colour are long: two such stores a round.
    unsigned char twice[16];
    std::memcpy(twice, &pattern, 8);
    std::memcpy(twice + 8, &pattern, 8);
    do {
      std::memcpy(dst, twice, 16);
      std::memcpy(dst + 16, twice, 16);
      dst += 32;
    } while (dst < end);
    return;
  }
  // 3, 5, 6 and 7: stored at a stride that is a multiple of the distance, so
  // that every word starts on the pattern.
  static constexpr uint8_t strides[8] = {0, 0, 0, 6, 0, 5, 6, 7};  // 8 - 8 % distance, without a division
  const size_t stride = strides[distance];
  do {
    Store64(dst, pattern);
    dst += stride;
  } while (dst < end);
}

// The copy of a back-reference (distance <= dst - start) of length bytes,
// writing whole words: up to CopyOverrun bytes past its end get scratch.
inline void CopyMatch(unsigned char* dst, size_t distance, size_t length) {
  if (distance < 16) return CopyNearMatch(dst, distance, length);
  unsigned char* const end = dst + length;
  const unsigned char* src = dst - distance;
  // Most copies are short: two unconditional stores cover them without a
  // loop whose exit the branch predictor would have to guess.
  std::memcpy(dst, src, 16);
  std::memcpy(dst + 16, src + 16, 16);
  while (dst + 32 < end) {
    dst += 16;
    src += 16;
    std::memcpy(dst + 16, src + 16, 16);
  }
}

enum class Step { Continue, EndOfBlock, Failed };

// With BMI2, a shift by a register is one instruction that leaves the flags
// alone: the loop's extra-bit and refill arithmetic gets shorter. On x86-64
// the loop is built twice, plain and for BMI2, and a check of the processor
// of our own picks one on first use. The loader's ifunc would do the same on
// Linux only, and it runs before main, where ThreadSanitizer's instrumented
// code cannot run yet.
#if defined(__GNUC__) && defined(__x86_64__)
#define DEMO_FAST_LOOP_BMI2 1
#define FAST_LOOP_BODY inline __attribute__((always_inline))
#else
#define FAST_LOOP_BODY inline
#endif

// Decodes until the block ends, an error, or one of the ends comes near.
// Returns Continue in the last case.
//
// Each round starts with at least 56 bits in the buffer and its literal/length
// entry already looked up, and decodes one entry: a literal, or a
// length and a distance with their extra bits (48 bits at most).
//
// Whether an entry is a literal or a length is as good as random in real data,
// so the branch on it is mispredicted often. Before that branch, each round
// looks up what either side needs next from the bits after the entry's own:
// the next literal/length entry and the distance entry. After a mispredict
// the right one is already loaded, instead of starting its lookup only then.
template <bool Bmi2>
FAST_LOOP_BODY Step FastLoopBody(const LiteralTable& literals, const DistanceTable& distances, Bits& bits,
                                  Output& output, InflateError& error) {
  constexpr uint32_t literalMask = (1u << LiteralBits) - 1;
  constexpr uint32_t distanceMask = (1u << DistanceBits) - 1;
  const size_t room = std::min(output.out.size(), output.limit);
  if (room < FastOutputRoom || bits.size < FastInputRoom) return Step::Continue;
  unsigned char* const begin = output.out.data();
  unsigned char* const fastEnd = begin + (room - FastOutputRoom);
  const size_t inputEnd = bits.size - FastInputRoom;
  unsigned char* dst = begin + output.position;
  const uint32_t* const literalEntries = literals.entry;
  const uint32_t* const distanceEntries = distances.entry;
  uint64_t buffer = bits.buffer;
  // Only the low six bits of count are kept exact: whole entries are
  // subtracted from it, flags and all, which cannot disturb those bits.
  unsigned count = bits.count;
  size_t next = bits.next;
  const unsigned char* const data = bits.data;
  Step result = Step::Continue;

  auto refill = [&] {
    buffer |= Load64(data + next) << (count & 63);
    next += (~count & 63) >> 3;
    count |= 56;
  };
  // The value of an entry's extra bits in the buffer it was looked up in.
  auto extraBits = [](uint64_t from, uint32_t entry) {
    uint64_t low;
#ifdef DEMO_FAST_LOOP_BMI2
    if (Bmi2) {
      // bzhi keeps the bits below the count in the low byte of entry, which
      // for a length or distance is consumed (its literal-count bits are 0).
      asm("bzhi %2, %1, %0" : "=r"(low) : "r"(from), "r"(uint64_t{entry}));
    } else
#endif
      low = from & ((uint64_t{1} << EntryConsumed(entry)) - 1);
    return static_cast<uint32_t>(low >> EntryNeeded(entry));
  };

  if (output.position > room - FastOutputRoom || bits.next > inputEnd) return Step::Continue;
  refill();
  const uint8_t* const leadingLiterals = literals.leadingLiteral;
  uint32_t index = buffer & literalMask;  // of entry in the main table
  uint32_t entry = literalEntries[index];
  // The rounds that can run before either end comes near are counted out in
  // advance, so that each round checks one counter instead of both ends. A
  // round writes at most a literal and a longest match, and its one refill
  // moves on at most 7 bytes of input.
  constexpr size_t RoundOutput = MaxMatchLength + 1, RoundInput = 7;
  while (dst <= fastEnd && next <= inputEnd) {
    size_t rounds = std::min(static_cast<size_t>(fastEnd - dst) / RoundOutput, (inputEnd - next) / RoundInput) + 1;
    do {
      const uint64_t after = buffer >> EntryConsumed(entry);
      const uint32_t nextIndex = after & literalMask;
      const uint32_t nextLiteral = literalEntries[nextIndex];
      uint32_t distanceEntry = distanceEntries[after & distanceMask];
      // And the entry after that distance's bits, should entry be a length:
      // a round that turns out to be a match, often against the prediction,
      // then finds its successor loaded too. Computed here, ahead of the
      // branch, whatever the compiler would rather do.
      uint32_t afterMatchIndex = (after >> EntryConsumed(distanceEntry)) & literalMask;
      uint32_t afterMatch = literalEntries[afterMatchIndex];
      asm volatile("" : "+r"(afterMatch));
      if (IsLiteral(entry)) {
        // One to three literals: all four bytes are written, those past the
        // entry's literals are scratch and are overwritten next.
        Store32(dst, entry >> 8);
        dst += (entry >> LiteralCountShift) & 3;
        buffer = after;
        count -= entry;
        refill();  // at least 44 bits were left: the lookup's 12 stay as they were
        entry = nextLiteral;
        index = nextIndex;
        continue;
      }
      if (entry & Exceptional) {
        if (entry & Link) {
          entry = literalEntries[EntryValue(entry) + ((buffer >> LiteralBits) & ((1u << EntryNeeded(entry)) - 1))];
          if (IsLiteral(entry)) {
            Store32(dst, entry >> 8);
            ++dst;
            buffer >>= EntryConsumed(entry);
            count -= entry;
            refill();
            index = buffer & literalMask;
            entry = literalEntries[index];
            continue;
          }
        }
        if (entry & NoCode) {
          error = InflateError::NoSuchCode;
          result = Step::Failed;
          goto done;
        }
        if (entry & Special) {
          buffer >>= EntryConsumed(entry);
          count -= entry;
          if (EntryValue(entry) == EndOfBlockValue) {
            result = Step::EndOfBlock;
            goto done;
          }
          refill();  // 286 and 287 carry no meaning: skipped
          index = buffer & literalMask;
          entry = literalEntries[index];
          continue;
        }
        // A length from a subtable: its distance follows its own bits.
        distanceEntry = distanceEntries[(buffer >> EntryConsumed(entry)) & distanceMask];
        afterMatch = 0;
      }
      // A length, then its distance. The literal before it, if the entry holds
      // one, is written without a branch: a byte of scratch otherwise, which the
      // copy overwrites.
      *dst = leadingLiterals[index];
      dst += (entry & LeadingLiteral) >> 13;
      const size_t length = EntryValue(entry) + extraBits(buffer, entry);
      buffer >>= EntryConsumed(entry);
      count -= entry;
      if (distanceEntry & Exceptional) {
        if (distanceEntry & Link) {
          distanceEntry = distanceEntries[EntryValue(distanceEntry) +
                                          ((buffer >> DistanceBits) & ((1u << EntryNeeded(distanceEntry)) - 1))];
          afterMatch = 0;
        }
        if (distanceEntry & NoCode) {
          error = InflateError::NoSuchCode;
          result = Step::Failed;
          goto done;
        }
        if (distanceEntry & Special) {
          error = InflateError::BadDistanceSymbol;
          result = Step::Failed;
          goto done;
        }
      }
      const size_t distance = EntryValue(distanceEntry) + extraBits(buffer, distanceEntry);
      buffer >>= EntryConsumed(distanceEntry);
      count -= distanceEntry;
      if (distance > static_cast<size_t>(dst - begin)) {
        error = InflateError::DistanceTooFar;
        result = Step::Failed;
        goto done;
      }
      // The next lookup needs no refill: the one before this round left all 64
      // bits of the buffer filled with input, whatever count says, and the
      // match took at most 48 of them. The refill stays off the path from one
      // entry to the next.
      if (afterMatch) {
        index = afterMatchIndex;
        entry = afterMatch;
      } else {  // the guess above read the wrong bits; no table entry is 0
        index = buffer & literalMask;
        entry = literalEntries[index];
      }
      refill();
      CopyMatch(dst, distance, length);
      dst += length;
    } while (--rounds);
  }
done:
  bits.buffer = buffer;
  bits.count = count & 63;
  bits.next = next;
  output.position = static_cast<size_t>(dst - begin);
  return result;
}

using FastLoopFunction = Step (*)(const LiteralTable&, const DistanceTable&, Bits&, Output&, InflateError&);

// Both loops start on a cache line of their own: where the linker happens to
// put them would otherwise move their speed by a few percent from one build
// to the next.
__attribute__((aligned(64))) Step FastLoopPlain(const LiteralTable& literals, const DistanceTable& distances,
                                                Bits& bits, Output& output, InflateError& error) {
  return FastLoopBody<false>(literals, distances, bits, output, error);
}

#ifdef DEMO_FAST_LOOP_BMI2
__attribute__((target("bmi2"), aligned(64))) Step FastLoopBmi2(const LiteralTable& literals,
                                                               const DistanceTable& distances, Bits& bits,
                                                               Output& output, InflateError& error) {
  return FastLoopBody<true>(literals, distances, bits, output, error);
}
#endif

FastLoopFunction PickFastLoop() {
#ifdef DEMO_FAST_LOOP_BMI2
  __builtin_cpu_init();
  if (__builtin_cpu_supports("bmi2")) return FastLoopBmi2;
#endif
  return FastLoopPlain;
}

// Picked once, on the first block of the first stream, so that nothing of it
// runs before main.
FastLoopFunction PickedFastLoop() {
  static const FastLoopFunction picked = PickFastLoop();
  return picked;
}

std::atomic<bool> plainLoopForced{false};

Step FastLoop(const LiteralTable& literals, const DistanceTable& distances, Bits& bits, Output& output,
              InflateError& error) {
  const FastLoopFunction loop = plainLoopForced.load(std::memory_order_relaxed) ? FastLoopPlain : PickedFastLoop();
  return loop(literals, distances, bits, output, error);
}

// One symbol (and for a length, its distance) with every check of the walk.
Step CarefulStep(const LiteralTable& literals, const DistanceTable& distances, Bits& bits, Output& output,
                 InflateError& error) {
  uint32_t entry = DecodeCareful(literals, LiteralBits, Alphabet::Literal, bits, error);
  if (error != InflateError::None) return Step::Failed;
  if (IsLiteral(entry)) {
    if (output.position >= output.limit) {
      error = InflateError::OutputLimit;
      return Step::Failed;
    }
    output.MakeRoom(1);
    output.out[output.position++] = FirstLiteral(entry);
    return Step::Continue;
  }
  if (entry & Special) return EntryValue(entry) == EndOfBlockValue ? Step::EndOfBlock : Step::Continue;

  if (bits.AtEnd()) {
    error = InflateError::ExtraBitsPastEnd;
    return Step::Failed;
  }
  const size_t length = EntryValue(entry) + bits.Read(EntryExtra(entry), error, InflateError::ExtraBitsPastEnd);
  if (error != InflateError::None) return Step::Failed;
  entry = DecodeCareful(distances, DistanceBits, Alphabet::Distance, bits, error);
  if (error != InflateError::None) return Step::Failed;
  if (entry & Special) {
    error = InflateError::BadDistanceSymbol;
    return Step::Failed;
  }
  if (bits.AtEnd()) {
    error = InflateError::ExtraBitsPastEnd;
    return Step::Failed;
  }
  const size_t distance = EntryValue(entry) + bits.Read(EntryExtra(entry), error, InflateError::ExtraBitsPastEnd);
  if (error != InflateError::None) return Step::Failed;
  if (distance > output.position) {
    error = InflateError::DistanceTooFar;
    return Step::Failed;
  }
  if (length > output.limit - output.position) {
    error = InflateError::OutputLimit;
    return Step::Failed;
  }
  output.MakeRoom(length);
  // Near the end of the data a few bytes of input can still hold many long
  // matches (a picture's last rows of one colour): copied as runs of whole
  // blocks, each as long as the distance, which doubles as the copy goes on.
  unsigned char* dst = output.out.data() + output.position;
  const unsigned char* const src = dst - distance;
  for (size_t left = length; left;) {
    const size_t n = std::min(left, static_cast<size_t>(dst - src));
    std::memcpy(dst, src, n);
    dst += n;
    left -= n;
  }
  output.position += length;
  return Step::Continue;
}

InflateError InflateHuffmanBlock(const LiteralTable& literals, const DistanceTable& distances, Bits& bits,
                                 Output& output) {
  InflateError error = InflateError::None;
  const bool fast = !literals.walked && !distances.walked;
  for (;;) {
    if (fast) {
      const Step step = FastLoop(literals, distances, bits, output, error);
      if (step == Step::EndOfBlock) return InflateError::None;
      if (step == Step::Failed) return error;
    }
    const Step step = CarefulStep(literals, distances, bits, output, error);
    if (step == Step::EndOfBlock) return InflateError::None;
    if (step == Step::Failed) return error;
  }
}

InflateError InflateStoredBlock(Bits& bits, Output& output) {
  const size_t q = (bits.Position() + 7) / 8;
  if (q + 4 > bits.size) return InflateError::BlockHeaderPastEnd;
  const unsigned char* header = bits.data + q;
  const size_t length = header[0] + 256u * header[1];
  const size_t lengthComplement = header[2] + 256u * header[3];
  if (length + lengthComplement != 65535) return InflateError::StoredLengthMismatch;
  if (q + 4 + length > bits.size) return InflateError::StoredDataPastEnd;
  if (length > output.limit - output.position) return InflateError::OutputLimit;
  if (output.position + length > output.out.size()) output.out.resize(output.position + length);
  if (length) std::memcpy(output.out.data() + output.position, header + 4, length);
  output.position += length;
  bits.Seek((q + 4 + length) * 8);
  return InflateError::None;
}

}  // namespace

// ---------------------------------------------------------------------------
// The stream.

const char* inflateFastLoopName() { return PickedFastLoop() == FastLoopPlain ? "plain" : "bmi2"; }

void inflateForcePlainLoop(bool force) { plainLoopForced.store(force, std::memory_order_relaxed); }

int decompressZlib(std::vector<unsigned char>& out, const unsigned char* begin, const unsigned char* end,
                   size_t outputLimit, size_t* produced) {
  const InflateError header = checkZlibHeader(begin, end);
  if (header != InflateError::None) return static_cast<int>(header);

  static const FixedTables fixed;
  std::unique_ptr<DynamicTables> dynamic;
  Bits bits{begin + 2, static_cast<size_t>(end - begin) - 2};
  Output output{out, 0, outputLimit, std::max(out.size(), outputLimit)};
  InflateError error = InflateError::None;
  while (error == InflateError::None) {
    if (bits.AtEnd()) {
      error = InflateError::BlockHeaderPastEnd;
      break;
    }
    const unsigned final = bits.Read(1, error, InflateError::BlockHeaderPastEnd);
    if (error != InflateError::None) break;
    const unsigned blockType = bits.Read(2, error, InflateError::BlockHeaderPastEnd);
    if (error != InflateError::None) break;
    if (blockType == 3) {
      error = InflateError::BadBlockType;
      break;
    }
    if (blockType == 0) {
      error = InflateStoredBlock(bits, output);
    } else if (blockType == 1) {
      error = InflateHuffmanBlock(fixed.literals, fixed.distances, bits, output);
    } else {
      if (!dynamic) {
        dynamic.reset(new DynamicTables);
        // A match without a literal before it still copies a byte of this
        // (as scratch, overwritten by the match): a defined one.
        std::memset(dynamic->literals.leadingLiteral, 0, sizeof dynamic->literals.leadingLiteral);
      }
      error = ReadDynamicTables(*dynamic, bits);
      if (error == InflateError::None) error = InflateHuffmanBlock(dynamic->literals, dynamic->distances, bits, output);
    }
    if (final) {
      if (error == InflateError::None) {
        if (produced)
          *produced = output.position;
        else
          out.resize(output.position);
      }
      break;
    }
  }
  return static_cast<int>(error);
}
