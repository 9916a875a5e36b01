// Key search and interpolation, compared bit for bit in single precision.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <random>

#include "SyncTestSupport.h"
#include "sync/Tracks.h"

namespace {

struct ValueCase {
  const char* what;
  std::vector<TrackKey> keys;
  double row;
  float expected;
};

std::vector<TrackKey> Pair(int32_t kind) { return {{10, 1.0f, kind}, {20, 2.0f, KindStep}}; }

TEST(TrackValueTest, MatchesTheInterpolationKindsBitForBit) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const ValueCase cases[] = {
      {"linear inside", Pair(KindLinear), 15.5, 1.55f},
      {"linear on first key", Pair(KindLinear), 10.0, 1.0f},
      {"before first key", Pair(KindLinear), 9.99, 1.0f},
      {"on last key", Pair(KindLinear), 20.0, 2.0f},
      {"after last key", Pair(KindLinear), 1000.0, 2.0f},
      {"linear just before next", Pair(KindLinear), 19.5, 1.95f},
      {"step holds", Pair(KindStep), 10.0, 1.0f},
      {"step holds to the next row", Pair(KindStep), 19.999, 1.0f},
      {"step reaches next", Pair(KindStep), 20.0, 2.0f},
      {"step keeps -0", {{10, -0.0f, KindStep}, {20, 2.0f, KindStep}}, 15.0, -0.0f},
      {"smooth middle", Pair(KindSmooth), 15.0, 1.5f},
      {"smooth quarter", Pair(KindSmooth), 12.5, 1.15625f},
      {"ramp middle", Pair(KindRamp), 15.0, 1.25f},
      {"ramp quarter", Pair(KindRamp), 12.5, 1.0625f},
      {"kind 7 between keys", Pair(7), 15.0, 0.0f},
      {"kind 7 on its own row", Pair(7), 10.0, 0.0f},
      {"kind 7 next key's row", Pair(7), 20.0, 2.0f},
      {"kind -1 between keys", Pair(-1), 12.0, 0.0f},
      {"one key before", {{5, 3.5f, KindLinear}}, -100.0, 3.5f},
      {"one key after", {{5, 3.5f, KindLinear}}, 1e9, 3.5f},
      {"negative row before key at 0", {{0, 4.0f, KindLinear}, {10, 8.0f, KindStep}}, -0.5, 4.0f},
      // floor, not truncation: -0.5 belongs to the stretch that starts at -10
      {"negative row floors", {{-10, 0.0f, KindLinear}, {0, 100.0f, KindStep}, {10, 5.0f, KindStep}}, -0.5, 95.0f},
      // Interpolation runs in double and rounds once; float arithmetic gives
      // a different last bit in these.
      {"linear rounds once (a)", {{0, 0.93f, KindLinear}, {7, -3.7f, KindStep}}, 6.402, -3.3044657707214355f},
      {"linear rounds once (b)", {{0, -4.57f, KindLinear}, {100, 2.8f, KindStep}}, 82.349, 1.4991211891174316f},
      {"ramp rounds once", {{0, 0.69f, KindRamp}, {13, -2.55f, KindStep}}, 8.043, -0.5502077341079712f},
      // Keys at the far ends of the int32 range: the row distance overflows 32 bits.
      {"widest stretch", {{INT_MIN, 0.0f, KindLinear}, {INT_MAX, 1.0f, KindStep}}, 0.0, 0.5f},
      {"rows past int32", Pair(KindLinear), 3e9, 2.0f},
      {"rows below int32", Pair(KindLinear), -3e9, 1.0f},
      {"infinite row", Pair(KindLinear), inf, 2.0f},
      {"negative infinite row", Pair(KindLinear), -inf, 1.0f},
      {"NaN row", Pair(KindLinear), nan, 1.0f},
      {"no keys", {}, 15.0, 0.0f},
  };
  for (const ValueCase& c : cases) {
    TestTrack t(c.keys);
    const float got = TrackValue(&t.track, c.row);
    EXPECT_EQ(FloatBits(got), FloatBits(c.expected))
        << c.what << ": at row " << c.row << " got " << got << ", expected " << c.expected;
  }
}

TEST(TrackValueTest, NullTrackIsZero) { EXPECT_EQ(TrackValue(nullptr, 3.0), 0.0f); }

TEST(TrackValueTest, EqualRowsInHandBuiltTrackStayFinite) {
  // Files with such keys are refused; a track built in code must still not divide by zero.
  TestTrack t({{10, 1.0f, KindLinear}, {10, 2.0f, KindLinear}, {20, 3.0f, KindStep}});
  for (double row : {9.0, 10.0, 10.5, 15.0, 25.0}) EXPECT_TRUE(std::isfinite(TrackValue(&t.track, row))) << row;
}

TEST(FindKeyTest, FindsTheLastKeyAtOrBeforeTheRow) {
  TestTrack t({{10, 0, 0}, {20, 0, 0}, {30, 0, 0}});
  const struct {
    int32_t row;
    int32_t index;
  } cases[] = {{INT_MIN, -1}, {5, -1}, {9, -1}, {10, 0}, {15, 0}, {19, 0}, {20, 1},
               {29, 1},       {30, 2}, {31, 2}, {INT_MAX, 2}};
  for (const auto& c : cases) EXPECT_EQ(FindKey(&t.track, c.row), c.index) << "row " << c.row;

  TestTrack empty({});
  EXPECT_EQ(FindKey(&empty.track, 0), -1);
  EXPECT_EQ(FindKey(nullptr, 0), -1);
}

TEST(FindKeyTest, AgreesWithALinearScanOnRandomTracks) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 300; ++trial) {
    const int n = int(rng() % 40);
    std::vector<TrackKey> keys;
    int32_t row = int32_t(rng() % 20) - 10;
    for (int k = 0; k < n; ++k) {
      keys.push_back({row, 0.0f, 0});
      row += 1 + int32_t(rng() % 5);
    }
    TestTrack t(keys);
    for (int32_t r = -15; r <= row + 2; ++r) {
      int32_t expected = -1;
      for (int k = 0; k < n; ++k)
        if (keys[k].row <= r) expected = k;
      ASSERT_EQ(FindKey(&t.track, r), expected) << "trial " << trial << " row " << r;
    }
  }
}

TEST(TrackValueTest, StaysWithinItsKeysAtEveryFraction) {
  // Each interpolated value lies between the two keys it comes from.
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> value(-1000.0f, 1000.0f);
  for (int kind = KindStep; kind <= KindRamp; ++kind) {
    const float va = value(rng), vb = value(rng);
    TestTrack t({{-3, va, kind}, {4, vb, KindStep}});
    for (double row = -3.0; row < 4.0; row += 0.01) {
      const float got = TrackValue(&t.track, row);
      EXPECT_GE(got, std::min(va, vb)) << "kind " << kind << " row " << row;
      EXPECT_LE(got, std::max(va, vb)) << "kind " << kind << " row " << row;
    }
  }
}

}  // namespace

namespace {

// A track keeps the key it found last and tries it first. Whatever order the
// rows come in (playback steps, jumps back, rows outside every key, NaN), each
// answer must equal the one a track without that memory gives.
TEST(TrackValueTest, RememberedKeyNeverChangesTheAnswer) {
  std::mt19937 rng(23);
  const double specials[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(), 3e9, -3e9};
  const float values[] = {-0.0f, 0.0f, 1.5f, -2.25f, 1e30f, std::numeric_limits<float>::infinity()};
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<TrackKey> keys;
    int32_t row = int32_t(rng() % 40) - 20;
    for (int k = 0, n = 1 + int(rng() % 12); k < n; ++k) {
      keys.push_back({row, values[rng() % 6], int32_t(rng() % 6) - 1});
      row += 1 + int32_t(rng() % 9);
    }
    TestTrack remembering(keys);
    double at = double(keys.front().row) - 3.0;
    for (int step = 0; step < 400; ++step) {
      const uint32_t pick = rng() % 16;
      if (pick == 0) at = specials[rng() % 5];
      else if (pick == 1 || !std::isfinite(at) || std::fabs(at) > 1e6) at = double(int32_t(rng() % 200) - 60) / 2.0;
      else at += 1.0 / 3.0;
      TestTrack fresh(keys);
      ASSERT_EQ(FloatBits(TrackValue(&remembering.track, at)), FloatBits(TrackValue(&fresh.track, at)))
          << "trial " << trial << " step " << step << " row " << at;
    }
  }
}

}  // namespace
