// The binary track file layout, its findings, and the track text format.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <random>

#include "SyncTestSupport.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"

namespace {

TEST(TrackFileTest, EncodesLittleEndianNineByteKeys) {
  const TrackKey keys[] = {{0x01020304, 1.0f, -1}, {-2, -0.0f, 3}};
  const std::vector<uint8_t> expected = {2, 0, 0, 0,                                      // count
                                         4, 3, 2, 1, 0x00, 0x00, 0x80, 0x3f, 0xff,        // key 0
                                         0xfe, 0xff, 0xff, 0xff, 0, 0, 0, 0x80, 3};       // key 1
  EXPECT_EQ(EncodeTrackFile(keys, 2), expected);
  EXPECT_EQ(EncodeTrackFile(keys, 0), (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST(TrackFileTest, ReportsEachProblemWithItsKey) {
  std::vector<uint8_t> ok;
  PutInt32(ok, 2);
  PutKey(ok, 1, 1.0f, 1);
  PutKey(ok, 2, 2.0f, 0);

  std::vector<uint8_t> trailing = ok;
  trailing.push_back(0);

  std::vector<uint8_t> mixed;
  PutInt32(mixed, 4);
  PutKey(mixed, 5, 1.0f, 9);                                      // key 0: unknown kind
  PutKey(mixed, 5, 1.0f, 0);                                      // key 1: same row
  PutKey(mixed, 9, std::numeric_limits<float>::infinity(), -3);   // key 2: not finite, unknown kind
  mixed.push_back(1);                                             // half of key 3

  std::vector<uint8_t> negative;
  PutInt32(negative, uint32_t(-1));

  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    std::vector<std::pair<TrackFileProblem, int32_t>> findings;
    bool refused;
  } cases[] = {
      {"well formed", ok, {}, false},
      {"empty", {}, {{TrackFileProblem::EmptyFile, -1}}, false},
      {"short header", {1, 2, 3}, {{TrackFileProblem::ShortHeader, -1}}, false},
      {"negative count", negative, {{TrackFileProblem::NegativeCount, -1}}, false},
      {"trailing", trailing, {{TrackFileProblem::TrailingBytes, -1}}, false},
      {"mixed",
       mixed,
       {{TrackFileProblem::ShortFile, 3},
        {TrackFileProblem::UnknownKind, 0},
        {TrackFileProblem::RowsNotAscending, 1},
        {TrackFileProblem::NonFiniteValue, 2},
        {TrackFileProblem::UnknownKind, 2}},
       true},
  };
  for (const auto& c : cases) {
    const TrackFileScan scan = ScanTrackBytes(c.bytes.data(), c.bytes.size());
    std::vector<std::pair<TrackFileProblem, int32_t>> got;
    for (const auto& f : scan.findings) got.emplace_back(f.problem, f.keyIndex);
    EXPECT_EQ(got, c.findings) << c.what;
    EXPECT_EQ(scan.refused, c.refused) << c.what;
  }
}

TEST(TrackTextTest, ParsesTracksKeysAndComments) {
  const std::string text =
      "# the backdrop\n"
      "\n"
      "track back.x   # x position\n"
      "  0      0.0    linear\n"
      "\t40\t1.5\tsmooth\r\n"
      "  80    -2      step\n"
      "  90    1e-3    ramp\n"
      "  100   7       -128\n"
      "track control\n"
      "track empty.one\n";
  std::vector<TrackTextError> errors;
  const std::vector<TrackSource> tracks = ParseTrackText(text, errors);
  ASSERT_TRUE(errors.empty()) << errors[0].line << ": " << errors[0].message;
  ASSERT_EQ(tracks.size(), 3u);
  EXPECT_EQ(tracks[0].name, "back.x");
  EXPECT_EQ(tracks[0].line, 3);
  ASSERT_EQ(tracks[0].keys.size(), 5u);
  const TrackKey expected[] = {{0, 0.0f, 1}, {40, 1.5f, 2}, {80, -2.0f, 0}, {90, 1e-3f, 3}, {100, 7.0f, -128}};
  for (int k = 0; k < 5; ++k) {
    EXPECT_EQ(tracks[0].keys[k].row, expected[k].row);
    EXPECT_EQ(FloatBits(tracks[0].keys[k].value), FloatBits(expected[k].value));
    EXPECT_EQ(tracks[0].keys[k].kind, expected[k].kind);
  }
  EXPECT_EQ(tracks[1].name, "control");
  EXPECT_TRUE(tracks[1].keys.empty());
}

TEST(TrackTextTest, ReportsEveryErrorWithItsLine) {
  const struct {
    const char* text;
    std::vector<std::pair<int, std::string>> errors;  // line and a piece of the message
  } cases[] = {
      {"0 1 step\n", {{1, "before any"}}},
      {"track a\n0 1 wobble\n", {{2, "unknown kind"}}},
      {"track a\n0 1 128\n", {{2, "unknown kind"}}},
      {"track a\n0 1.5x step\n", {{2, "bad value"}}},
      {"track a\n0 nan step\n1 1e39 step\n", {{2, "bad value"}, {3, "bad value"}}},
      {"track a\n2147483648 1 step\n", {{2, "bad row"}}},
      {"track a\n1.5 1 step\n", {{2, "bad row"}}},
      {"track a\n0 1\n", {{2, "ROW VALUE KIND"}}},
      {"track a\n5 1 step\n5 2 step\n4 3 step\n", {{3, "ascending"}, {4, "ascending"}}},
      {"track a\ntrack b\ntrack a\n", {{3, "duplicate"}}},
      {"track\n", {{1, "needs a name"}}},
      {"track a b\n", {{1, "one word"}}},
      {"track a/b\n", {{1, "separator"}}},
      {"track a\\b\n", {{1, "separator"}}},
      // keys under a rejected header are still checked
      {"track a\ntrack a\n0 1 bad\n", {{2, "duplicate"}, {3, "unknown kind"}}},
  };
  for (const auto& c : cases) {
    std::vector<TrackTextError> errors;
    ParseTrackText(c.text, errors);
    ASSERT_EQ(errors.size(), c.errors.size()) << c.text;
    for (size_t i = 0; i < errors.size(); ++i) {
      EXPECT_EQ(errors[i].line, c.errors[i].first) << c.text;
      EXPECT_NE(errors[i].message.find(c.errors[i].second), std::string::npos) << c.text << errors[i].message;
    }
  }
  std::vector<TrackTextError> errors;
  ParseTrackText("track " + std::string(244, 'x') + "\n", errors);
  EXPECT_EQ(errors.size(), 1u);
}

TEST(TrackTextTest, PrintingThenParsingKeepsEveryBit) {
  std::mt19937 rng(5);
  std::vector<TrackKey> keys = {{INT_MIN, -0.0f, 0},       {-1, FLT_MIN / 4, 1}, {0, FLT_MAX, 2},
                                {1, -FLT_MAX, 3},          {2, 0.1f, 7},         {3, 1.0f / 3.0f, -1},
                                {4, 16777217.0f, -128}};
  int32_t row = 5;
  for (int k = 0; k < 500; ++k) {
    uint32_t bits;
    float value;
    do {
      bits = uint32_t(rng());
      std::memcpy(&value, &bits, 4);
    } while (!std::isfinite(value));
    keys.push_back({row, value, int32_t(rng() % 4)});
    row += 1 + int32_t(rng() % 1000);
  }
  keys.push_back({INT_MAX, 2.5f, 127});
  const std::string text = FormatTrackText("t", keys.data(), int32_t(keys.size()));
  std::vector<TrackTextError> errors;
  const std::vector<TrackSource> parsed = ParseTrackText(text, errors);
  ASSERT_TRUE(errors.empty()) << errors[0].line << ": " << errors[0].message;
  ASSERT_EQ(parsed.size(), 1u);
  const std::vector<TrackKey>& back = parsed[0].keys;
  EXPECT_EQ(EncodeTrackFile(back.data(), int32_t(back.size())), EncodeTrackFile(keys.data(), int32_t(keys.size())));
}

}  // namespace
