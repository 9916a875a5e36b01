// The fixed tables of the DEFLATE format, shared by the inflater and by the
// bit-by-bit walk the tests hold it against.
#pragma once

#include <cstdint>

namespace deflate_format {

// Length symbols 257..285: base length and number of extra bits.
inline constexpr uint16_t LengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                            31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr uint8_t LengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                            2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Distance symbols 0..29: base distance and number of extra bits.
inline constexpr uint16_t DistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                              33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                              1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr uint8_t DistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                              6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block stores the code-length code lengths: the
// likely-used lengths come first so that HCLEN can cut off the rare ones.
inline constexpr uint8_t CodeLengthOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

inline constexpr unsigned LiteralSymbols = 288;
inline constexpr unsigned DistanceSymbols = 32;
inline constexpr unsigned CodeLengthSymbols = 19;
inline constexpr unsigned MaxCodeLength = 15;
inline constexpr unsigned MaxCodeLengthCodeLength = 7;
inline constexpr unsigned EndOfBlock = 256;
inline constexpr unsigned MaxMatchLength = 258;

// The fixed code lengths of block type 1.
inline constexpr unsigned FixedLiteralLength(unsigned symbol) {
  return symbol < 144 ? 8 : symbol < 256 ? 9 : symbol < 280 ? 7 : 8;
}
inline constexpr unsigned FixedDistanceLength = 5;

}  // namespace deflate_format
