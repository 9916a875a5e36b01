// The fade step and the tile layout of the three image planes, without GL.
#include <gtest/gtest.h>

#include <cmath>

#include "render/PlaneMath.h"

namespace {

constexpr double Threshold = static_cast<double>(0.1f);

FadeState ArmedAt(double row) {
  FadeState fade;
  StepFade(fade, 0, row);
  return fade;
}

TEST(FadeStep, FirstCallOnlyArms) {
  FadeState fade;
  StepFade(fade, 0, 37.25);
  EXPECT_EQ(fade.factor, 0.0);
  EXPECT_EQ(fade.lastStepRow, 37.25);
}

TEST(FadeStep, FirstCallAtRowZeroArmsAndLaterCallsStep) {
  // Row 0 is a valid arming row: it is not negative, so the next far call steps.
  FadeState fade = ArmedAt(0.0);
  StepFade(fade, 0, 0.5);
  EXPECT_EQ(fade.factor, static_cast<double>(0.005f));
}

TEST(FadeStep, StepsAreSinglePrecisionIncrementsAddedInDouble) {
  FadeState fade = ArmedAt(0.0);
  double expected = 0.0;
  for (int n = 1; n <= 5; ++n) {
    StepFade(fade, 0, n * 0.25);
    expected += 0.004999999888241291;  // 0.005f as a double, written out
    EXPECT_EQ(fade.factor, expected) << "after " << n << " steps";
  }
}

TEST(FadeStep, FadeInTakes201StepsAndOvershootsOne) {
  FadeState fade = ArmedAt(0.0);
  double row = 0.0;
  int steps = 0;
  for (int call = 0; call < 400; ++call) {
    row += 0.25;
    const double before = fade.factor;
    StepFade(fade, 0, row);
    if (fade.factor != before) ++steps;
    if (steps == 200) {
      EXPECT_LT(fade.factor, 1.0);
    }
  }
  EXPECT_EQ(steps, 201);
  EXPECT_EQ(fade.factor, 1.0049999775364995);
}

TEST(FadeStep, FadeOutFromFullTakes201StepsBackToZero) {
  FadeState fade = ArmedAt(0.0);
  double row = 0.0;
  for (int call = 0; call < 201; ++call) StepFade(fade, 0, row += 0.25);
  ASSERT_EQ(fade.factor, 1.0049999775364995);
  int steps = 0;
  for (int call = 0; call < 400; ++call) {
    const double before = fade.factor;
    StepFade(fade, 1, row += 0.25);
    if (fade.factor != before) ++steps;
  }
  EXPECT_EQ(steps, 201);
  EXPECT_EQ(fade.factor, 0.0);
}

TEST(FadeStep, AnyNonZeroFlagFadesOut) {
  FadeState fade{0.5, 10.0};
  StepFade(fade, 7, 11.0);
  EXPECT_EQ(fade.factor, 0.5 - static_cast<double>(0.005f));
  StepFade(fade, -1, 12.0);
  EXPECT_EQ(fade.factor, 0.5 - 2 * static_cast<double>(0.005f));
}

TEST(FadeStep, FadingOutAtZeroStaysZeroAndKeepsItsRow) {
  FadeState fade = ArmedAt(4.0);
  StepFade(fade, 1, 9.0);
  EXPECT_EQ(fade.factor, 0.0);
  EXPECT_EQ(fade.lastStepRow, 4.0);
}

struct DistanceCase {
  const char* name;
  double lastRow;
  double row;
  bool steps;
};

TEST(FadeStep, OnlyADistanceBeyondTheThresholdSteps) {
  const DistanceCase cases[] = {
      {"exactly the threshold ahead", 0.5, 0.5 + Threshold, false},
      {"just beyond the threshold ahead", 0.5, std::nextafter(0.5 + Threshold, 1.0), true},
      {"decimal 0.1 ahead, below the float threshold", 0.0, 0.1, false},
      {"exactly the threshold behind", 2.0, 2.0 - Threshold, false},
      {"more than the threshold behind", 2.0, 1.5, true},
      {"same row", 3.0, 3.0, false},
  };
  for (const DistanceCase& c : cases) {
    for (int32_t fadeOut : {0, 1}) {
      FadeState fade{0.5, c.lastRow};
      StepFade(fade, fadeOut, c.row);
      EXPECT_EQ(fade.factor != 0.5, c.steps) << c.name << ", fadeOut " << fadeOut;
      EXPECT_EQ(fade.lastStepRow, c.steps ? c.row : c.lastRow) << c.name;
    }
  }
}

TEST(FadeStep, FastFramesStepAtMostOncePerTenthOfARow) {
  // Frames 1/16 row apart: only every second one has moved far enough.
  FadeState fade = ArmedAt(0.0);
  for (int frame = 1; frame <= 8; ++frame) StepFade(fade, 0, frame * 0.0625);
  EXPECT_EQ(fade.factor, 4 * static_cast<double>(0.005f));
  EXPECT_EQ(fade.lastStepRow, 0.5);
}

// Hand-worked values (sin 5 = -0.9589243, sin 2 = 0.9092974, sin 8 = 0.9893582,
// sin 19 = 0.1498772, sin 20 = 0.9129453, sin 1 = 0.8414710).
struct TileCase {
  const char* name;
  PlaneRoutine routine;
  double row;
  int32_t i, j;
  double fade;
  TileTransform expected;
};

TEST(TileTransform, MatchesHandWorkedValues) {
  const TileCase cases[] = {
      {"A origin tile, row 0", PlaneRoutine::A, 0.0, 0, 0, 1.0, {-1.43f, -0.66f, -1.0f, 0.1f, 0.1f}},
      {"A inner tile, row 0", PlaneRoutine::A, 0.0, 2, 3, 1.0,
       {-0.77f, -0.22f, -1.0f, 0.10958924f, 0.10958924f}},
      {"A far corner, row 0", PlaneRoutine::A, 0.0, 6, 13, 1.0,
       {1.43f, 0.66f, -1.0f, 0.10149877f, 0.10149877f}},
      {"A half faded, row 0", PlaneRoutine::A, 0.0, 2, 3, 0.5,
       {-0.77f, -0.22f, -1.0f, 0.05479462f, 0.05479462f}},
      {"A origin tile, row 10", PlaneRoutine::A, 10.0, 0, 0, 1.0,
       {-1.0092645f, -0.66f, -0.5792645f, 0.10958924f, 0.10909297f}},
      {"B origin tile, row 0", PlaneRoutine::B, 0.0, 0, 0, 1.0, {-1.87f, -0.44f, -1.0f, 0.4f, 0.4f}},
      {"B tile (1,2), row 10", PlaneRoutine::B, 10.0, 1, 2, 1.0,
       {-0.2492645f, 0.08f, -1.0f, 0.40989358f, 0.40958924f}},
      {"C origin tile, row 0", PlaneRoutine::C, 0.0, 0, 0, 1.0, {-1.87f, -0.44f, -1.0f, 0.4f, 0.4f}},
      {"C far corner, row 0", PlaneRoutine::C, 0.0, 7, 13, 1.0,
       {11.13f, 1.1f, -1.0f, 0.40912945f, 0.40912945f}},
      {"C tile (1,2), row 10", PlaneRoutine::C, 10.0, 1, 2, 1.0,
       {0.5507355f, -0.22f, -1.0f, 0.40989358f, 0.40958924f}},
  };
  for (const TileCase& c : cases) {
    const TileTransform t = TileTransformAt(c.routine, c.row, c.i, c.j, c.fade);
    EXPECT_NEAR(t.tx, c.expected.tx, 2e-6) << c.name;
    EXPECT_NEAR(t.ty, c.expected.ty, 2e-6) << c.name;
    EXPECT_NEAR(t.tz, c.expected.tz, 2e-6) << c.name;
    EXPECT_NEAR(t.sx, c.expected.sx, 2e-6) << c.name;
    EXPECT_NEAR(t.sy, c.expected.sy, 2e-6) << c.name;
  }
}

TEST(TileTransform, ZeroFadeScalesEveryTileToNothing) {
  for (PlaneRoutine routine : {PlaneRoutine::A, PlaneRoutine::B, PlaneRoutine::C}) {
    const TileTransform t = TileTransformAt(routine, 123.4, 3, 9, 0.0);
    EXPECT_EQ(t.sx, 0.0f);
    EXPECT_EQ(t.sy, 0.0f);
  }
}

TEST(TileTransform, GridSizesAndStateSwitches) {
  EXPECT_EQ(LayoutOf(PlaneRoutine::A).gridRows, 7);
  EXPECT_EQ(LayoutOf(PlaneRoutine::B).gridRows, 8);
  EXPECT_EQ(LayoutOf(PlaneRoutine::C).gridRows, 8);
  EXPECT_TRUE(LayoutOf(PlaneRoutine::A).disablesDepthTest);
  EXPECT_FALSE(LayoutOf(PlaneRoutine::A).enablesTexturing);
  for (PlaneRoutine r : {PlaneRoutine::B, PlaneRoutine::C}) {
    EXPECT_FALSE(LayoutOf(r).disablesDepthTest);
    EXPECT_TRUE(LayoutOf(r).enablesTexturing);
  }
}

TEST(PlaneCallValues, SwayAndTiltFollowTheRow) {
  const PlaneCallValues a0 = ComputePlaneCallValues(PlaneRoutine::A, 0.0);
  EXPECT_EQ(a0.depth, -1.0f);
  EXPECT_EQ(a0.tiltX, 0.0f);
  EXPECT_EQ(a0.turnZ, 0.0f);

  const PlaneCallValues b10 = ComputePlaneCallValues(PlaneRoutine::B, 10.0);
  EXPECT_NEAR(b10.s, 0.84147099, 1e-7);
  EXPECT_NEAR(b10.h, 0.42073549, 1e-7);
  EXPECT_NEAR(b10.tiltX, 4.2073549f, 1e-5);
  EXPECT_NEAR(b10.turnZ, 12.622065f, 1e-5);
  EXPECT_EQ(b10.depth, -1.0f);  // only plane A moves in depth

  // Past the half turn s is negative; A's depth uses abs(h) and comes forward.
  const PlaneCallValues a40 = ComputePlaneCallValues(PlaneRoutine::A, 40.0);
  ASSERT_LT(a40.s, 0.0);
  EXPECT_NEAR(a40.depth, std::fabs(a40.h) - 1.0, 1e-7);
  EXPECT_GT(a40.depth, -1.0f);
}

}  // namespace
