// Inflater: decompresses one zlib stream held in memory.
//
// The whole stream is in memory and the output is produced in one call; there
// is no streaming mode. The 2-byte zlib header is checked, the DEFLATE blocks
// are decoded, and the Adler-32 trailer is never read (a damaged or missing
// trailer goes unnoticed). Preset dictionaries are refused.
//
// Every failure has a code of InflateError below; the first failure met ends
// the call. Nothing is ever read past the end of the input: every fixed-width
// field that would run past it reports the end-of-data code of the check
// before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The inflater's result codes. The numbers are what users see (demotool and
// the PNG decoder's messages print them): they never change.
enum class InflateError : int {
  None = 0,
  SymbolPastEnd = 10,          // end of data reached while decoding a Huffman symbol
  NoSuchCode = 11,             // the bits read are no code of the tree (an empty branch)
  RepeatOverrun = 13,          // a repeat-previous run (code-length symbol 16) goes past HLIT + HDIST
  ShortZeroRunOverrun = 14,    // a short zero run (symbol 17) goes past HLIT + HDIST
  LongZeroRunOverrun = 15,     // a long zero run (symbol 18) goes past HLIT + HDIST
  RepeatWithoutPrevious = 16,  // code-length symbol 16 as the very first length: nothing to repeat
  BadDistanceSymbol = 18,      // distance symbol 30 or 31
  BadBlockType = 20,           // block type 3
  StoredLengthMismatch = 21,   // stored block: LEN + NLEN != 65535
  StoredDataPastEnd = 23,      // stored block: its LEN bytes run past the end of the data
  HeaderCheck = 24,            // zlib header: CMF * 256 + FLG not a multiple of 31
  HeaderMethod = 25,           // zlib header: CM != 8 or CINFO > 7
  PresetDictionary = 26,       // zlib header: FDICT set
  DynamicHeaderPastEnd = 49,   // end of data at the start of a dynamic block header, or inside
                               // its HLIT/HDIST/HCLEN fields and code-length code lengths
  RepeatCountPastEnd = 50,     // end of data before or inside the repeat count of symbol 16, 17 or 18
  ExtraBitsPastEnd = 51,       // end of data before or inside the extra bits of a length or distance
  BlockHeaderPastEnd = 52,     // end of data at the start of a block or inside its 3 header bits,
                               // or a stored block's LEN and NLEN not wholly inside the data
  StreamTooShort = 53,         // stream shorter than 2 bytes
  DistanceTooFar = 54,         // a back-reference reaches farther back than the output produced so far
  OversubscribedCode = 55,     // code lengths need more tree nodes than the alphabet allows
  NoEndOfBlockCode = 64,       // dynamic block without a code for the end-of-block symbol 256
  OutputLimit = 65,            // the output would grow past outputLimit bytes (after the
                               // checks of the data that would produce it)
};

// Decompresses [begin, end) into out (resized by the call). Returns 0 on
// success, otherwise an InflateError code. out may arrive with
// any size and content; on success its size is exactly the decompressed
// length, on failure it is not trimmed and its content is not meaningful.
//
// outputLimit bounds the memory a small damaged or hostile stream can demand:
// a stream that would produce more bytes fails with 65 where the first byte
// past the limit would be written, and the call never grows out beyond the
// larger of its incoming size and the limit. A stream whose output fits the
// limit decodes exactly as without one.
//
// With produced, a successful call leaves out at the size it has reached (at
// least the decompressed length) and stores the length there instead: a
// caller that goes on to use the buffer at another size then does not clear
// again what trimming would have cut off.
int decompressZlib(std::vector<unsigned char>& out, const unsigned char* begin,
                   const unsigned char* end, size_t outputLimit = SIZE_MAX, size_t* produced = nullptr);

// The fast loop this processor runs, picked on first use by a check of the
// processor of our own: "bmi2" or "plain". For the benchmarks' notes.
const char* inflateFastLoopName();

// For tests: while set, every stream runs the plain fast loop even where the
// processor would get the BMI2 one, so that both loops meet the same streams.
void inflateForcePlainLoop(bool force);

// ---------------------------------------------------------------------------
// The building blocks below are used by decompressZlib; they are declared here
// so that the tests and the fuzz target can drive them directly.

// The same decompression as decompressZlib by the plainest route: every
// Huffman symbol walked down its tree one bit at a time (decodeSymbol), every
// copy byte by byte. decompressZlib must give the same code on every input and
// the same bytes on success; this is the definition it is held against.
int decompressZlibReference(std::vector<unsigned char>& out, const unsigned char* begin,
                            const unsigned char* end, size_t outputLimit = SIZE_MAX);

// The 2-byte zlib header's checks in their order: 53, 24, 25, 26 or None.
InflateError checkZlibHeader(const unsigned char* begin, const unsigned char* end);

// A Huffman code as a binary tree in a flat array. Node k owns slots 2k (next
// bit 0) and 2k + 1 (next bit 1); node 0 is the root. A slot holds a symbol
// (below symbolCount), a link symbolCount + k to internal node k, or
// CodeTree::Empty when no code leads there.
struct CodeTree {
  static constexpr uint32_t Empty = 32767;
  static constexpr uint32_t MaxSymbols = 288;
  uint32_t symbolCount = 0;
  uint32_t slots[2 * MaxSymbols];
};

// Where the walk stands in the compressed data (everything after the zlib
// header). Bits are taken least significant first from each byte.
struct BitStream {
  const unsigned char* data = nullptr;
  size_t size = 0;      // bytes of compressed data
  size_t position = 0;  // bits consumed
};

// Builds the canonical code of the given code lengths (the count fixes the
// alphabet size, 2 to CodeTree::MaxSymbols; each length at most maxLength,
// itself at most 15; other arguments also give OversubscribedCode).
// Returns None, or OversubscribedCode when the lengths need more internal
// nodes than the alphabet allows. Incomplete sets always build; an
// over-subscribed set fails or builds a tree in which some codes lead
// elsewhere, as the walk below then finds them.
InflateError buildCodeTree(CodeTree& tree, const unsigned* lengths, size_t count, unsigned maxLength);

// Decodes one symbol by walking the tree one bit at a time. Sets error to None
// and returns the symbol, or sets error to SymbolPastEnd (out of data at a byte
// boundary) or NoSuchCode and returns 0.
unsigned decodeSymbol(const CodeTree& tree, BitStream& bits, InflateError& error);
