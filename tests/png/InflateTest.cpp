// The inflater: hand-made streams for every failure a small input can reach,
// and zlib's compressor as the oracle for everything it can produce.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "PngTestSupport.h"
#include "png/Inflate.h"

namespace {

using Inflater = int (*)(Bytes&, const unsigned char*, const unsigned char*, size_t);
const Inflater inflaters[] = {
    [](Bytes& out, const unsigned char* begin, const unsigned char* end, size_t limit) {
      return decompressZlib(out, begin, end, limit);
    },
    decompressZlibReference};

// Runs the inflater on an exact-size copy, so that AddressSanitizer sees any
// read past the last byte, and holds it against the bit-by-bit walk: the same
// code, and on success the same bytes. Both fast loops run, the one this
// processor gets and the plain one.
int inflateCode(const Bytes& in, Bytes* out = nullptr, size_t limit = SIZE_MAX) {
  std::unique_ptr<unsigned char[]> exact(new unsigned char[in.size() ? in.size() : 1]);
  if (!in.empty()) std::memcpy(exact.get(), in.data(), in.size());
  Bytes walked;
  const int walkCode = decompressZlibReference(walked, exact.get(), exact.get() + in.size(), limit);
  Bytes results[2];
  int codes[2];
  for (bool plain : {false, true}) {
    inflateForcePlainLoop(plain);
    codes[plain] = decompressZlib(results[plain], exact.get(), exact.get() + in.size(), limit);
    inflateForcePlainLoop(false);
    const char* loop = plain ? "plain loop" : "processor's loop";
    EXPECT_EQ(codes[plain], walkCode) << "table-driven (" << loop << ") and walked decoding disagree";
    if (codes[plain] == 0 && walkCode == 0) {
      EXPECT_TRUE(results[plain] == walked) << "table-driven (" << loop << ") and walked bytes differ";
    }
  }
  if (out) *out = results[0];
  return codes[0];
}

// A zlib header with a correct check value for the given CMF and FLG flags.
Bytes header(unsigned cmf, unsigned flags = 0) {
  unsigned flg = flags;
  flg += (31 - (cmf * 256 + flg) % 31) % 31;
  return {static_cast<unsigned char>(cmf), static_cast<unsigned char>(flg)};
}

// Header and DEFLATE data with no trailer: the data ends where the stream does.
Bytes zlibBare(const Bytes& deflate) { return concat({Bytes{0x78, 0x01}, deflate}); }

// Bit fields given as (value, bit count), with no trailer: a block header and
// whatever of it a case needs before the data ends.
Bytes bareFields(std::initializer_list<std::pair<unsigned, unsigned>> fields) {
  BitWriter w;
  for (auto [value, count] : fields) w.bits(value, count);
  return zlibBare(w.bytes);
}

// One final block in the fixed codes, with the trailer or (bare) without.
Bytes fixedStream(std::initializer_list<FixedItem> items) {
  BitWriter w;
  w.fixedBlock(true, items);
  return zlibWrap(w.bytes);
}
Bytes fixedStreamBare(std::initializer_list<FixedItem> items) {
  BitWriter w;
  w.fixedBlock(true, items);
  return zlibBare(w.bytes);
}

struct ClItem {
  unsigned symbol, extra;
};

// A dynamic block header: the code-length code lengths by symbol (HCLEN of them
// stored in the format's order), then the code-length symbols given.
void dynamicHeader(BitWriter& w, bool final, unsigned hlit, unsigned hdist, unsigned hclen,
                   const std::vector<unsigned>& clLengths, const std::vector<ClItem>& items) {
  static const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  w.bits(final, 1);
  w.bits(2, 2);
  w.bits(hlit - 257, 5);
  w.bits(hdist - 1, 5);
  w.bits(hclen - 4, 4);
  for (unsigned i = 0; i < hclen; ++i) w.bits(clLengths[order[i]], 3);
  for (const ClItem& item : items) {
    w.canonical(clLengths, item.symbol);
    if (item.symbol == 16) w.bits(item.extra, 2);
    if (item.symbol == 17) w.bits(item.extra, 3);
    if (item.symbol == 18) w.bits(item.extra, 7);
  }
}

std::vector<unsigned> lengthsOf(std::initializer_list<std::pair<unsigned, unsigned>> symbolLengths) {
  std::vector<unsigned> lengths(19, 0);
  for (auto [symbol, length] : symbolLengths) lengths[symbol] = length;
  return lengths;
}

// n items of one code-length symbol.
void repeatItem(std::vector<ClItem>& items, unsigned symbol, unsigned n) {
  for (unsigned i = 0; i < n; ++i) items.push_back({symbol, 0});
}

struct ErrorCase {
  const char* name;
  std::function<Bytes()> make;
  int expected;
};

const ErrorCase errorCases[] = {
    {"Empty", [] { return Bytes{}; }, 53},
    {"OneByte", [] { return Bytes{0x78}; }, 53},
    {"HeaderOnly", [] { return Bytes{0x78, 0x9C}; }, 52},
    {"HeaderCheckBits", [] { return Bytes{0x78, 0x9D, 0x03, 0x00}; }, 24},
    {"WindowAbove32K", [] { return concat({header(0x88), Bytes{0x03, 0x00}}); }, 25},
    {"MethodNotDeflate", [] { return concat({header(0x77), Bytes{0x03, 0x00}}); }, 25},
    {"PresetDictionary", [] { return concat({header(0x78, 0x20), Bytes{0x03, 0x00}}); }, 26},
    {"BlockType3",
     [] {
       BitWriter w;
       w.bits(1, 1);
       w.bits(3, 2);
       return zlibWrap(w.bytes);
     },
     20},
    {"BlockHeaderBitsCut",  // three empty fixed blocks end at bit 30 of 32
     [] {
       BitWriter w;
       for (int i = 0; i < 3; ++i) w.fixedBlock(false, {EndOfBlock});
       return zlibBare(w.bytes);
     },
     52},
    {"StoredLenNotComplemented",
     [] {
       BitWriter w;
       w.storedHeader(true);
       for (unsigned char b : {5, 0, 0, 0, 1, 2, 3, 4, 5}) w.byte(b);
       return zlibWrap(w.bytes);
     },
     21},
    {"StoredLenCut",
     [] {
       BitWriter w;
       w.storedHeader(true);
       for (unsigned char b : {5, 0, 0xFA}) w.byte(b);
       return zlibBare(w.bytes);
     },
     52},
    {"StoredDataPastEnd",
     [] {
       BitWriter w;
       w.storedHeader(true);
       for (unsigned char b : {10, 0, 0xF5, 0xFF, 1, 2, 3}) w.byte(b);
       return zlibBare(w.bytes);
     },
     23},
    {"FixedDistance30",
     [] { return fixedStream({'a', 257, distance(30), EndOfBlock}); },
     18},
    {"FixedDistance31",
     [] { return fixedStream({'a', 257, distance(31), EndOfBlock}); },
     18},
    {"DistanceBeforeAnyOutput",
     [] { return fixedStream({257, distance(0), EndOfBlock}); },
     54},
    {"DistanceBeyondOutput",  // distance 2, one byte produced
     [] { return fixedStream({'a', 257, distance(1), EndOfBlock}); },
     54},
    {"SymbolCutAtByteBoundary",  // literal ends at bit 11; 5 zero bits are no code
     [] { return fixedStreamBare({'a'}); },
     10},
    {"LengthExtraBitsAtEnd",  // six 9-bit literals and a length code end at bit 64
     [] { return fixedStreamBare({200, 200, 200, 200, 200, 200, 257}); },
     51},
    {"LengthExtraBitsCut",  // symbol 269 ends at bit 55, its 2 extra bits do not fit
     [] { return fixedStreamBare({200, 200, 200, 200, 200, 269, extraBits(0, 1)}); },
     51},
    {"DistanceExtraBitsAtEnd",
     [] { return fixedStreamBare({200, 257, distance(0)}); },
     51},
    {"DynamicHeaderAtEnd",  // stored, 19-bit and 10-bit fixed blocks put the header at bit 69
     [] {
       BitWriter w;
       w.storedHeader(false);
       for (unsigned char b : {0, 0, 0xFF, 0xFF}) w.byte(b);
       w.fixedBlock(false, {200, EndOfBlock});
       w.fixedBlock(false, {EndOfBlock});
       w.bits(1, 1);
       w.bits(2, 2);
       return zlibBare(w.bytes);
     },
     49},
    {"DynamicCountsCut", [] { return bareFields({{1, 1}, {2, 2}, {0, 5}}); },
     49},
    {"CodeLengthCodeLengthsCut", [] { return bareFields({{1, 1}, {2, 2}, {0, 5}, {0, 5}, {15, 4}, {2, 3}}); },
     49},
    {"CodeLengthCodeOversubscribed",
     [] {
       BitWriter w;
       std::vector<unsigned> all(19, 1);
       dynamicHeader(w, true, 257, 1, 19, all, {});
       return zlibWrap(w.bytes);
     },
     55},
    {"CodeLengthCodeEmptyBranch",  // only symbol 18 has a code ("0"); "1" leads nowhere
     [] {
       BitWriter w;
       dynamicHeader(w, true, 257, 1, 4, lengthsOf({{18, 1}}), {});
       w.bits(3, 2);
       return zlibWrap(w.bytes);
     },
     11},
    {"RepeatWithNothingBefore",
     [] {
       BitWriter w;
       dynamicHeader(w, true, 257, 1, 18, lengthsOf({{16, 1}, {1, 1}}), {{16, 0}});
       return zlibWrap(w.bytes);
     },
     16},
    {"RepeatPastEnd",
     [] {
       BitWriter w;
       std::vector<ClItem> items;
       repeatItem(items, 1, 257);
       items.push_back({16, 0});  // 3 copies where 1 fits
       dynamicHeader(w, true, 257, 1, 18, lengthsOf({{16, 1}, {1, 1}}), items);
       return zlibWrap(w.bytes);
     },
     13},
    {"ShortZeroRunPastEnd",
     [] {
       BitWriter w;
       std::vector<ClItem> items;
       repeatItem(items, 1, 256);
       items.push_back({17, 0});  // 3 zeros where 2 fit
       dynamicHeader(w, true, 257, 1, 18, lengthsOf({{17, 1}, {1, 1}}), items);
       return zlibWrap(w.bytes);
     },
     14},
    {"LongZeroRunPastEnd",
     [] {
       BitWriter w;
       std::vector<ClItem> items = {{18, 127}, {18, 127}};  // 276 zeros, 258 fit
       dynamicHeader(w, true, 257, 1, 4, lengthsOf({{18, 1}, {0, 1}}), items);
       return zlibWrap(w.bytes);
     },
     15},
    {"RepeatCountAtEnd",  // two 1-bit zeros put symbol 17 at bits 30..31
     [] {
       BitWriter w;
       dynamicHeader(w, true, 257, 1, 4, lengthsOf({{17, 1}, {0, 1}}), {{0, 0}, {0, 0}});
       w.canonical(lengthsOf({{17, 1}, {0, 1}}), 17);
       return zlibBare(w.bytes);
     },
     50},
    {"RepeatCountCut",
     [] {
       BitWriter w;
       dynamicHeader(w, true, 257, 1, 4, lengthsOf({{17, 1}, {0, 1}}), {{0, 0}});
       w.canonical(lengthsOf({{17, 1}, {0, 1}}), 17);
       return zlibBare(w.bytes);
     },
     50},
    {"NoEndOfBlockCode",
     [] {
       BitWriter w;
       std::vector<ClItem> items;
       repeatItem(items, 1, 256);
       items.push_back({17, 0});  // symbols 256, 257 and distance 0 get no code
       dynamicHeader(w, true, 257, 2, 18, lengthsOf({{17, 1}, {1, 1}}), items);
       return zlibWrap(w.bytes);
     },
     64},
    // Thirty-two 15-bit distance codes fit the code space but their tree
    // needs more internal nodes than a 32-symbol alphabet has.
    {"DistanceTreeTooDeep",
     [] {
       BitWriter w;
       std::vector<ClItem> items = {{18, 86}, {1, 0}, {18, 127}, {18, 9}, {1, 0}};
       for (int i = 0; i < 32; ++i) items.push_back({15, 0});
       dynamicHeader(w, true, 257, 32, 19, lengthsOf({{18, 2}, {1, 2}, {15, 2}}), items);
       return zlibWrap(w.bytes);
     },
     55},
    // Three 1-bit literal codes: the tree builds with 'a' and 'b' only, so the
    // end of block has no code and the block runs into the end of the data.
    {"OversubscribedLiteralsThatBuild",
     [] {
       BitWriter w;
       std::vector<ClItem> items = {{18, 86}, {1, 0}, {1, 0}, {18, 127}, {18, 8}, {1, 0}, {0, 0}};
       dynamicHeader(w, true, 257, 1, 18, lengthsOf({{18, 2}, {1, 2}, {0, 2}}), items);
       w.code(0, 1);
       w.code(1, 1);
       return zlibBare(w.bytes);
     },
     10},
    {"LiteralCodeOversubscribed",
     [] {
       BitWriter w;
       std::vector<ClItem> items;
       repeatItem(items, 1, 258);  // 257 literal/length codes of length 1
       dynamicHeader(w, true, 257, 1, 18, lengthsOf({{16, 1}, {1, 1}}), items);
       return zlibWrap(w.bytes);
     },
     55},
};

class InflateErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(InflateErrors, ReportsTheFirstFailure) { EXPECT_EQ(inflateCode(GetParam().make()), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Crafted, InflateErrors, ::testing::ValuesIn(errorCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Inflate, HeadersThatPass) {
  for (Bytes head : {Bytes{0x78, 0x01}, Bytes{0x78, 0x9C}, Bytes{0x78, 0xDA}, header(0x08), header(0x78, 0xC0)}) {
    // An empty final stored block after the header.
    Bytes stream = concat({head, Bytes{0x01, 0x00, 0x00, 0xFF, 0xFF}});
    Bytes out;
    EXPECT_EQ(inflateCode(stream, &out), 0) << int(head[0]) << " " << int(head[1]);
    EXPECT_TRUE(out.empty());
  }
}

TEST(Inflate, DistanceOneLength258RepeatsThePreviousByte) {
  Bytes out;
  ASSERT_EQ(inflateCode(fixedStream({'x', 285, distance(0), 'y', EndOfBlock}), &out), 0);
  EXPECT_EQ(out, concat({Bytes(259, 'x'), Bytes{'y'}}));
}

TEST(Inflate, OverlappingCopyRepeatsTheLastDistanceBytes) {
  Bytes out;
  // Length symbol 260 is 6 bytes, distance symbol 2 is 3 back.
  ASSERT_EQ(inflateCode(fixedStream({'a', 'b', 'c', 260, distance(2), EndOfBlock}), &out), 0);
  EXPECT_EQ(std::string(out.begin(), out.end()), "abcabcabc");
}

TEST(Inflate, FixedSymbols286And287AreSkipped) {
  Bytes out;
  ASSERT_EQ(inflateCode(fixedStream({'a', 286, 287, 'b', EndOfBlock}), &out), 0);
  EXPECT_EQ(std::string(out.begin(), out.end()), "ab");
}

// Over-subscribed code-length code lengths that still build a tree: symbols 0
// and 1 get the codes 0 and 1, symbol 2 none.
TEST(Inflate, OversubscribedCodeLengthCodeThatBuildsDecodes) {
  BitWriter w;
  std::vector<ClItem> items;
  for (unsigned s = 0; s < 258; ++s) items.push_back({s == 'a' || s == 256 ? 1u : 0u, 0});
  dynamicHeader(w, true, 257, 1, 18, lengthsOf({{0, 1}, {1, 1}, {2, 1}}), items);
  w.code(0, 1);  // 'a'
  w.code(0, 1);  // 'a'
  w.code(1, 1);  // end of block
  Bytes out;
  ASSERT_EQ(inflateCode(zlibWrap(w.bytes), &out), 0);
  EXPECT_EQ(std::string(out.begin(), out.end()), "aa");
}

// A repeat-previous code may carry the last literal/length code length over
// into the distance code lengths.
TEST(Inflate, RepeatCarriesLiteralLengthIntoDistances) {
  BitWriter w;
  std::vector<unsigned> cl = lengthsOf({{18, 2}, {1, 2}, {2, 2}, {16, 2}});
  std::vector<ClItem> items = {{18, 86}, {1, 0}, {18, 127}, {18, 9}, {2, 0}, {16, 0}};
  dynamicHeader(w, true, 258, 2, 18, cl, items);
  std::vector<unsigned> literals(258, 0);
  literals['a'] = 1;
  literals[256] = 2;
  literals[257] = 2;
  w.canonical(literals, 'a');
  w.canonical(literals, 257);  // length 3
  w.code(0, 2);                // distance symbol 0: distance 1
  w.canonical(literals, 256);
  Bytes out;
  ASSERT_EQ(inflateCode(zlibWrap(w.bytes), &out), 0);
  EXPECT_EQ(std::string(out.begin(), out.end()), "aaaa");
}

TEST(Inflate, OutputIsTrimmedOrGrown) {
  const Bytes data = randomBytes(5000, 7);
  const Bytes stream = zlibCompress(data, 6);
  for (Inflater inflate : inflaters) {
    for (size_t presize : {size_t{0}, size_t{1}, size_t{4999}, size_t{5000}, size_t{5001}, size_t{100000}}) {
      Bytes out(presize, 0xEE);
      ASSERT_EQ(inflate(out, stream.data(), stream.data() + stream.size(), SIZE_MAX), 0);
      EXPECT_EQ(out, data) << "pre-sized to " << presize;
    }
  }
  // Asked for the length instead, the call leaves out as large as it grew.
  for (size_t presize : {size_t{0}, size_t{4999}, size_t{5000}, size_t{100000}}) {
    Bytes out(presize, 0xEE);
    size_t produced = 0;
    ASSERT_EQ(decompressZlib(out, stream.data(), stream.data() + stream.size(), SIZE_MAX, &produced), 0);
    EXPECT_EQ(produced, data.size());
    EXPECT_GE(out.size(), std::max(presize, data.size())) << "pre-sized to " << presize;
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin())) << "pre-sized to " << presize;
  }
}

TEST(Inflate, TrailerIsNeverRead) {
  const Bytes data = randomBytes(3000, 11);
  Bytes stream = zlibCompress(data, 9);
  Bytes out;
  for (unsigned char fill : {0x00, 0xFF, 0x5A}) {
    Bytes damaged = stream;
    for (size_t i = damaged.size() - 4; i < damaged.size(); ++i) damaged[i] = fill;
    ASSERT_EQ(inflateCode(damaged, &out), 0);
    EXPECT_EQ(out, data);
  }
  Bytes noTrailer(stream.begin(), stream.end() - 4);
  ASSERT_EQ(inflateCode(noTrailer, &out), 0);
  EXPECT_EQ(out, data);
}

TEST(Inflate, NothingAfterTheFinalBlockIsRead) {
  Bytes stream = zlibCompress(Bytes{'h', 'i'}, 6);
  stream.insert(stream.end(), {0xFF, 0xFF, 0xFF});  // would be block type 3
  Bytes out;
  ASSERT_EQ(inflateCode(stream, &out), 0);
  EXPECT_EQ(std::string(out.begin(), out.end()), "hi");
}

// Every prefix of a real stream ends in an end-of-data code, never success and
// never a read past the data (the sanitizer build checks the latter).
TEST(Inflate, EveryTruncationReportsEndOfData) {
  Bytes data;
  for (int i = 0; i < 400; ++i) {
    std::string line = "row " + std::to_string(i * i % 97) + " of the scroller text\n";
    data.insert(data.end(), line.begin(), line.end());
  }
  const Bytes randomTail = randomBytes(300, 3);
  data.insert(data.end(), randomTail.begin(), randomTail.end());
  for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED}) {
    for (int level : {0, 6}) {
      const Bytes stream = zlibCompress(data, level, 15, 8, strategy);
      for (size_t cut = 0; cut + 4 < stream.size(); ++cut) {
        const int code = inflateCode(Bytes(stream.begin(), stream.begin() + cut));
        EXPECT_TRUE(code == 10 || code == 23 || code == 49 || code == 50 || code == 51 || code == 52 ||
                    code == 53)
            << "cut at " << cut << " of " << stream.size() << " gave " << code;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The output limit.

Bytes storedBlock(const Bytes& payload) {
  BitWriter w;
  w.storedHeader(true);
  const unsigned n = static_cast<unsigned>(payload.size());
  for (unsigned b : {n & 255, n >> 8, ~n & 255, (~n >> 8) & 255}) w.byte(static_cast<unsigned char>(b));
  for (unsigned char b : payload) w.byte(b);
  return zlibWrap(w.bytes);
}

// A dynamic block where two zero bits are a copy of 258 bytes: every input byte
// asks for 1032 output bytes, and the block never ends.
Bytes expandingStream(size_t zeroBytes) {
  BitWriter w;
  std::vector<ClItem> items = {{2, 0}, {18, 127}, {18, 106}, {2, 0}, {18, 17}, {1, 0}, {1, 0}};
  dynamicHeader(w, true, 286, 1, 18, lengthsOf({{0, 2}, {1, 2}, {2, 2}, {18, 2}}), items);
  w.code(2, 2);  // literal 0
  w.bytes.resize(w.bytes.size() + zeroBytes);
  return zlibBare(w.bytes);
}

TEST(InflateLimit, OutputThatFitsDecodesAndOneByteMoreIsRefused) {
  const struct {
    const char* name;
    Bytes stream;
    size_t size;
  } cases[] = {
      {"stored", storedBlock(randomBytes(100, 5)), 100},
      {"literals", fixedStream({'a', 'b', 'c', EndOfBlock}), 3},
      {"copy", fixedStream({'a', 285, distance(0), EndOfBlock}), 259},
      {"empty", storedBlock({}), 0},
      // Long enough for the word-wise loop to run up to the limit.
      {"long literals", zlibCompress(randomBytes(20000, 8), 6), 20000},
      {"long copies", zlibCompress(Bytes(100000, 'q'), 6), 100000},
  };
  for (Inflater inflate : inflaters) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.name);
      for (size_t presize : {size_t{0}, c.size + 1000}) {
        Bytes out(presize);
        EXPECT_EQ(inflate(out, c.stream.data(), c.stream.data() + c.stream.size(), c.size), 0);
        EXPECT_EQ(out.size(), c.size);
        if (c.size > 0) {
          EXPECT_EQ(inflate(out, c.stream.data(), c.stream.data() + c.stream.size(), c.size - 1), 65);
        }
      }
    }
  }
}

// Damage in the data that would produce the bytes keeps its code: the limit is
// checked only where the bytes could really be written.
TEST(InflateLimit, EarlierChecksKeepTheirCodes) {
  BitWriter cutStored;
  cutStored.storedHeader(true);
  for (unsigned char b : {10, 0, 0xF5, 0xFF, 1, 2, 3}) cutStored.byte(b);
  const struct {
    const char* name;
    Bytes stream;
    size_t limit;
    int expected;
  } cases[] = {
      // Distance 2, one byte produced.
      {"distance beyond the output", fixedStream({'a', 285, distance(1)}), 1, 54},
      {"stored data cut short", zlibBare(cutStored.bytes), 0, 23},
      {"cut inside a literal", zlibBare(Bytes{0x4B}), 0, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(inflateCode(c.stream, nullptr, c.limit), c.expected);
  }
}

// 64 KiB that would expand to 64 MiB stop at the limit without taking the memory.
TEST(InflateLimit, ExpandingStreamIsRefusedWithinTheLimit) {
  const Bytes stream = expandingStream(64 << 10);
  for (Inflater inflate : inflaters) {
    for (size_t limit : {size_t{0}, size_t{1000}, size_t{1} << 20}) {
      Bytes out;
      EXPECT_EQ(inflate(out, stream.data(), stream.data() + stream.size(), limit), 65) << limit;
      EXPECT_LE(out.size(), limit);
    }
  }
}

// The most bits one match can take: a 15-bit length code with 5 extra bits
// and a 15-bit distance code with 13. The literals after it have codes of 11
// and 12 bits, nearly all ones, so a decoder that ran short of bits after the
// match would find other symbols. The run before the match shifts where the
// match falls within a word of input.
TEST(Inflate, LongestMatchThenALongCode) {
  // 'a' 0, 256 10, 'c'..'k' 110 up to 11111111110, 'b' 111111111110, 284 and
  // distance 29 fifteen bits each; the sets are incomplete, which is allowed.
  std::vector<unsigned> literals(286, 0), distances(30, 0);
  literals['a'] = 1;
  literals[256] = 2;
  for (unsigned c = 'c'; c <= 'k'; ++c) literals[c] = c - 'c' + 3;
  literals['b'] = 12;
  literals[284] = 15;
  distances[29] = 15;
  std::vector<unsigned> clLengths(19, 0);
  for (unsigned l = 0; l <= 15; ++l) clLengths[l] = 5;
  std::vector<ClItem> items;
  for (unsigned l : literals) items.push_back({l, 0});
  for (unsigned l : distances) items.push_back({l, 0});

  for (size_t run = 24600; run < 24616; ++run) {
    SCOPED_TRACE(run);
    BitWriter w;
    dynamicHeader(w, true, 286, 30, 19, clLengths, items);
    for (size_t i = 0; i < run; ++i) w.canonical(literals, 'a');
    w.canonical(literals, 284);
    w.bits(0, 5);  // length 227
    w.canonical(distances, 29);
    w.bits(0, 13);  // distance 24577
    w.canonical(literals, 'b');
    for (int i = 0; i < 800; ++i) w.canonical(literals, i % 2 ? 'a' : 'k');
    w.canonical(literals, 256);
    Bytes expected(run + 227, 'a');
    expected.push_back('b');
    for (int i = 0; i < 800; ++i) expected.push_back(i % 2 ? 'a' : 'k');
    Bytes out;
    ASSERT_EQ(inflateCode(zlibWrap(w.bytes), &out), 0);
    ASSERT_EQ(out, expected);
  }
}

// A dynamic block's codes for the table tests: the literal/length code gives
// each (symbol, length) its length, the distance code has distance 1 alone
// at distanceLength bits, and every code-length code is five bits long.
// `bytes` are the literals among the symbols, in their order.
struct TableCodes {
  std::vector<unsigned> literals = std::vector<unsigned>(286, 0), distances = std::vector<unsigned>(30, 0);
  std::vector<unsigned> bytes;
  std::vector<unsigned> clLengths = std::vector<unsigned>(19, 0);
  std::vector<ClItem> items;

  explicit TableCodes(const std::vector<std::pair<unsigned, unsigned>>& lengths, unsigned distanceLength = 1) {
    for (auto [symbol, length] : lengths) {
      literals[symbol] = length;
      if (symbol < 256) bytes.push_back(symbol);
    }
    distances[0] = distanceLength;
    for (unsigned l = 0; l <= 15; ++l) clLengths[l] = 5;
    for (unsigned l : literals) items.push_back({l, 0});
    for (unsigned l : distances) items.push_back({l, 0});
  }
};

// Literals whose codes fit the fast loop's index two or three at a time are
// decoded together. Each set of code lengths puts runs at the edges: codes
// that sum to exactly the index width and one bit more, a run cut short by a
// length or the end of the block, runs long enough for the fast loop and
// stream ends where the careful step takes over in the middle of a run.
TEST(Inflate, ShortLiteralsDecodeInPairs) {
  struct Case {
    const char* name;
    std::vector<std::pair<unsigned, unsigned>> lengths;  // symbol, code length
  } cases[] = {
      // complete: every length from 1 to 13, so pairs of every sum meet
      {"lengths 1 to 13",
       {{'a', 1}, {'b', 2}, {'c', 3}, {'d', 4}, {'e', 5}, {'f', 6}, {'g', 7}, {'h', 8}, {'i', 9}, {'j', 10},
        {'k', 11}, {'l', 12}, {256, 13}, {257, 13}}},
      // six and seven bits: 6 + 6 pairs, 6 + 7 does not
      {"six and seven", {{'m', 6}, {'n', 6}, {'o', 7}, {'p', 7}, {256, 6}, {257, 6}}},
      // the lengths first, literals after them in the canonical order
      {"lengths first", {{257, 1}, {256, 3}, {'x', 3}, {'y', 4}, {'z', 4}}},
      // four bits each: three literals fill the index exactly, a fourth never fits
      {"four bits", {{'0', 4}, {'1', 4}, {'2', 4}, {'3', 4}, {'4', 4}, {'5', 4}, {'6', 4}, {'7', 4},
                     {'8', 4}, {'9', 4}, {'A', 4}, {'B', 4}, {'C', 4}, {'D', 4}, {256, 4}, {257, 4}}},
      // 3 + 4 + 5 is twelve bits, 4 + 4 + 5 one too many; 2 + 2 + 2 leaves room unused
      {"three to five", {{'q', 2}, {'r', 3}, {'s', 4}, {'t', 4}, {'u', 5}, {'v', 5}, {'w', 5}, {256, 6}, {257, 6}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TableCodes codes(c.lengths);
    const auto& [literals, distances, bytes, clLengths, items] = codes;

    for (size_t symbols : {5u, 400u, 3001u, 3002u}) {
      SCOPED_TRACE(symbols);
      BitWriter w;
      dynamicHeader(w, true, 286, 30, 19, clLengths, items);
      Bytes expected;
      uint32_t x = 99;
      for (size_t i = 0; i < symbols; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        if (x % 7 == 0 && !expected.empty()) {  // length 3 at distance 1
          w.canonical(literals, 257);
          w.canonical(distances, 0);
          expected.insert(expected.end(), 3, expected.back());
        } else {
          const unsigned byte = bytes[x % bytes.size()];
          w.canonical(literals, byte);
          expected.push_back(static_cast<unsigned char>(byte));
        }
      }
      w.canonical(literals, 256);
      Bytes out;
      ASSERT_EQ(inflateCode(zlibWrap(w.bytes), &out), 0);
      ASSERT_EQ(out, expected);
      // Cut inside the last symbols: the careful step meets pairs near the end.
      for (size_t cut = 1; cut <= 4 && cut < w.bytes.size(); ++cut) {
        Bytes shortened = zlibBare(Bytes(w.bytes.begin(), w.bytes.end() - static_cast<long>(cut)));
        EXPECT_EQ(inflateCode(shortened), static_cast<int>(InflateError::SymbolPastEnd)) << "cut " << cut;
      }
    }
  }
}

// A literal whose code and the code of the length after it fit the fast
// loop's index together is decoded with that length in one lookup. Each case
// alternates literals and matches (distance 1) with the codes' sums at the
// edges of the index width, lengths with and without extra bits, long enough
// runs for the fast loop and short ones for the careful step alone, and
// streams cut inside the last symbols.
TEST(Inflate, LiteralThenLengthDecodesAsBoth) {
  struct Case {
    const char* name;
    std::vector<std::pair<unsigned, unsigned>> lengths;  // symbol, code length
    unsigned lengthSymbol, extraBits, base;
  } cases[] = {
      {"two bits each", {{'a', 2}, {'b', 2}, {257, 2}, {256, 2}}, 257, 0, 3},
      {"six and six: exactly the index", {{'c', 6}, {'d', 6}, {258, 6}, {256, 6}}, 258, 0, 4},
      {"six and seven: one bit too many", {{'e', 6}, {'f', 6}, {259, 7}, {256, 7}}, 259, 0, 5},
      {"extra bits after both codes", {{'g', 3}, {'h', 3}, {266, 3}, {256, 3}}, 266, 1, 13},
      {"four extra bits", {{'i', 4}, {'j', 4}, {277, 4}, {256, 4}}, 277, 4, 67},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TableCodes codes(c.lengths);
    const auto& [literals, distances, bytes, clLengths, items] = codes;
    for (size_t pairs : {1u, 3u, 2000u}) {
      SCOPED_TRACE(pairs);
      BitWriter w;
      dynamicHeader(w, true, 286, 30, 19, clLengths, items);
      Bytes expected;
      for (size_t i = 0; i < pairs; ++i) {
        const unsigned byte = bytes[i % bytes.size()];
        w.canonical(literals, byte);
        expected.push_back(static_cast<unsigned char>(byte));
        const unsigned extra = c.extraBits ? static_cast<unsigned>(i * 5) % (1u << c.extraBits) : 0;
        w.canonical(literals, c.lengthSymbol);
        w.bits(extra, c.extraBits);
        w.canonical(distances, 0);
        expected.insert(expected.end(), c.base + extra, static_cast<unsigned char>(byte));
      }
      w.canonical(literals, 256);
      Bytes out;
      ASSERT_EQ(inflateCode(zlibWrap(w.bytes), &out), 0);
      ASSERT_EQ(out, expected);
      for (size_t cut = 1; cut <= 3 && cut < w.bytes.size(); ++cut)
        inflateCode(zlibBare(Bytes(w.bytes.begin(), w.bytes.end() - static_cast<long>(cut))));
    }
  }
}

// Code sets at the edges of the table build: no code as short as the main
// index, codes only just past it, one very short code beside very long ones,
// and a distance code longer than the distance index.
TEST(Inflate, CodeSetsAtTheEdgesOfTheTableDecode) {
  struct Case {
    const char* name;
    std::vector<std::pair<unsigned, unsigned>> lengths;  // symbol, code length
    unsigned distanceLength;
  } cases[] = {
      {"every code longer than the index", {{'a', 13}, {'b', 14}, {256, 15}, {257, 15}}, 1},
      {"one short code, the rest long", {{'a', 1}, {'b', 13}, {256, 14}, {257, 15}}, 1},
      {"two one-bit codes", {{'a', 1}, {256, 1}}, 1},
      {"a long distance code", {{'a', 2}, {'b', 2}, {256, 2}, {257, 2}}, 12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TableCodes codes(c.lengths, c.distanceLength);
    const auto& [literals, distances, bytes, clLengths, items] = codes;
    for (size_t symbols : {2u, 3000u}) {
      SCOPED_TRACE(symbols);
      BitWriter w;
      dynamicHeader(w, true, 286, 30, 19, clLengths, items);
      Bytes expected;
      for (size_t i = 0; i < symbols; ++i) {
        const unsigned byte = bytes[i % bytes.size()];
        w.canonical(literals, byte);
        expected.push_back(static_cast<unsigned char>(byte));
        if (literals[257] && i % 3 == 2) {
          w.canonical(literals, 257);
          w.canonical(distances, 0);
          expected.insert(expected.end(), 3, static_cast<unsigned char>(byte));
        }
      }
      w.canonical(literals, 256);
      Bytes out;
      ASSERT_EQ(inflateCode(zlibWrap(w.bytes), &out), 0);
      ASSERT_EQ(out, expected);
    }
  }
}

// ---------------------------------------------------------------------------
// Differential against zlib.

Bytes textLike(size_t size, uint32_t seed) {
  static const char* words[] = {"demo", "scroll", "the ", "texture", "row", "track", "music", "plane",
                                "\n",   ", ",     "and", "of ",     "GL",  "0.25",  "777",   " "};
  Bytes out;
  Bytes pick = randomBytes(size, seed);
  for (size_t i = 0; out.size() < size; ++i) {
    const char* w = words[pick[i % pick.size()] % 16];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  out.resize(size);
  return out;
}

Bytes runsAndNoise(size_t size, uint32_t seed) {
  Bytes noise = randomBytes(size, seed);
  Bytes out;
  for (size_t i = 0; out.size() < size; ++i) {
    size_t run = noise[i % size] % 40;
    out.insert(out.end(), run, noise[(i * 7) % size]);
    out.insert(out.end(), noise.begin() + (i % (size - 8)), noise.begin() + (i % (size - 8)) + 3);
  }
  out.resize(size);
  return out;
}

TEST(InflateDifferential, MatchesZlibAcrossLevelsWindowsAndStrategies) {
  const std::vector<Bytes> inputs = {randomBytes(20000, 1), textLike(60000, 2), runsAndNoise(60000, 3),
                                     Bytes(70000, 'z'), Bytes{}, Bytes{42}};
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  int checked = 0;
  for (size_t d = 0; d < inputs.size(); ++d) {
    for (int level = 0; level <= 9; ++level) {
      for (int strategy : strategies) {
        for (int windowBits = 9; windowBits <= 15; ++windowBits) {
          // Keep the run short: every level with the largest window, every
          // window at levels 1, 6 and 9. (zlib writes 8 as 9.)
          if (windowBits != 15 && level != 1 && level != 6 && level != 9) continue;
          const Bytes stream = zlibCompress(inputs[d], level, windowBits, level == 9 ? 9 : 8, strategy);
          Bytes out;
          ASSERT_EQ(inflateCode(stream, &out), 0)
              << "input " << d << " level " << level << " strategy " << strategy << " window " << windowBits;
          ASSERT_EQ(out, inputs[d]) << "input " << d << " level " << level << " strategy " << strategy;
          ++checked;
        }
      }
    }
  }
  EXPECT_GT(checked, 300);
}

// Damaged streams: the table-driven decoder must fail where and as the walk
// does, or decode the same bytes (inflateCode compares the two).
TEST(InflateDifferential, DamagedStreamsMatchTheWalk) {
  const Bytes text = textLike(30000, 4), runs = runsAndNoise(30000, 5);
  const struct {
    const char* name;
    Bytes stream;
  } streams[] = {
      {"dynamic", zlibCompress(text, 6)},
      {"dynamic runs", zlibCompress(runs, 9)},
      {"fixed", zlibCompress(runs, 6, 15, 8, Z_FIXED)},
      {"huffman only", zlibCompress(text, 6, 15, 8, Z_HUFFMAN_ONLY)},
      {"small window", zlibCompress(text, 1, 9)},
      {"stored", zlibCompress(randomBytes(3000, 6), 0)},
  };
  uint32_t x = 12345;
  auto next = [&x](uint32_t n) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    return x % n;
  };
  for (const auto& c : streams) {
    SCOPED_TRACE(c.name);
    const uint32_t size = static_cast<uint32_t>(c.stream.size());
    for (int trial = 0; trial < 300; ++trial) {
      Bytes damaged = c.stream;
      switch (trial % 4) {
        case 0:  // a flipped bit, mostly in the block headers
          damaged[2 + next(trial % 8 ? 40 : size - 2)] ^= static_cast<unsigned char>(1u << next(8));
          break;
        case 1:  // a few bytes of noise
          for (uint32_t i = next(size - 2) + 2, n = 1 + next(4); n-- && i < size; ++i)
            damaged[i] = static_cast<unsigned char>(next(256));
          break;
        case 2:  // cut short
          damaged.resize(2 + next(size - 2));
          break;
        default:  // flipped bits and a limit
          damaged[2 + next(size - 2)] ^= static_cast<unsigned char>(1u << next(8));
          inflateCode(damaged, nullptr, next(40000));
          continue;
      }
      inflateCode(damaged);
      if (HasFailure()) return;
    }
  }
}

// Level 0 writes stored blocks of at most 65535 bytes: several of them in a row.
TEST(InflateDifferential, ManyStoredBlocks) {
  const Bytes data = randomBytes(200000, 9);
  Bytes stream = zlibCompress(data, 0);
  for (size_t i = stream.size() - 4; i < stream.size(); ++i) stream[i] ^= 0xA5;
  Bytes out;
  ASSERT_EQ(inflateCode(stream, &out), 0);
  EXPECT_EQ(out, data);
}

}  // namespace
