// The fade step and the tile layout of the three image planes, without GL.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "render/FramePlan.h"
#include "render/PlaneMath.h"
#include "sync/Tracks.h"

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
// sin 19 = 0.1498772, sin 20 = 0.9129453, sin 1 = 0.8414710), each written as
// the float its sums round to and compared exactly: the layouts' decimals are
// single-precision values, and a tolerance would let their double neighbours
// through. The last three cases are there because they round differently when
// one of the decimals is taken in double precision; together the cases catch
// that for every decimal but B's row start, whose rows round the same either way.
struct TileCase {
  const char* name;
  PlaneRoutine routine;
  double row;
  int32_t i, j;
  double fade;
  TileTransform expected;
};

TEST(TileTransform, MatchesHandWorkedValuesToTheLastBit) {
  const TileCase cases[] = {
      {"A origin tile, row 0", PlaneRoutine::A, 0.0, 0, 0, 1.0, {-1.43f, -0.66f, -1.0f, 0.1f, 0.1f}},
      {"A inner tile, row 0", PlaneRoutine::A, 0.0, 2, 3, 1.0,
       {-0.769999981f, -0.220000029f, -1.0f, 0.109589241f, 0.109589241f}},
      {"A far corner, row 0", PlaneRoutine::A, 0.0, 6, 13, 1.0,
       {1.43000007f, 0.659999967f, -1.0f, 0.101498775f, 0.101498775f}},
      {"A half faded, row 0", PlaneRoutine::A, 0.0, 2, 3, 0.5,
       {-0.769999981f, -0.220000029f, -1.0f, 0.0547946207f, 0.0547946207f}},
      {"A origin tile, row 10", PlaneRoutine::A, 10.0, 0, 0, 1.0,
       {-1.00926447f, -0.66f, -0.579264522f, 0.109589241f, 0.109092973f}},
      {"B origin tile, row 0", PlaneRoutine::B, 0.0, 0, 0, 1.0, {-1.87f, -0.44f, -1.0f, 0.4f, 0.4f}},
      {"B tile (1,2), row 10", PlaneRoutine::B, 10.0, 1, 2, 1.0,
       {-0.249264479f, 0.0799999833f, -1.0f, 0.409893602f, 0.409589261f}},
      {"C origin tile, row 0", PlaneRoutine::C, 0.0, 0, 0, 1.0, {-1.87f, -0.44f, -1.0f, 0.4f, 0.4f}},
      {"C far corner, row 0", PlaneRoutine::C, 0.0, 7, 13, 1.0,
       {11.1300001f, 1.10000002f, -1.0f, 0.409129471f, 0.409129471f}},
      {"C tile (1,2), row 10", PlaneRoutine::C, 10.0, 1, 2, 1.0,
       {0.550735474f, -0.219999999f, -1.0f, 0.409893602f, 0.409589261f}},
      // sin 300.0000045 = -0.9997559, sin 1510 = 0.8939426, sin 610.0000089 = 0.5064253.
      {"A tile (1,9), row 3000", PlaneRoutine::A, 3000.0, 1, 9, 1.0,
       {0.0501220562f, -0.440000027f, -0.500122011f, 0.108939424f, 0.105064258f}},
      {"C tile (2,2), row 0", PlaneRoutine::C, 0.0, 2, 2, 1.0, {0.12999998f, 0.0f, -1.0f, 0.407568038f, 0.407568038f}},
      // The grid's middle row lands a hair below zero, not on it.
      {"A tile (3,2), row 10", PlaneRoutine::A, 10.0, 3, 2, 1.0,
       {-0.569264472f, -2.98023224e-08f, -0.579264522f, 0.105440214f, 0.106569864f}},
  };
  for (const TileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TileTransform t = TileTransformAt(c.routine, c.row, c.i, c.j, c.fade);
    EXPECT_EQ(t.tx, c.expected.tx);
    EXPECT_EQ(t.ty, c.expected.ty);
    EXPECT_EQ(t.tz, c.expected.tz);
    EXPECT_EQ(t.sx, c.expected.sx);
    EXPECT_EQ(t.sy, c.expected.sy);
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
  // sin(10 * 0.1f), not sin 1: the phase step is the float nearest 0.1. The
  // tolerance is a few double ulps; sin 1 is 8e-9 away.
  EXPECT_NEAR(b10.s, 0.8414709928590282, 1e-15);
  EXPECT_NEAR(b10.h, 0.4207354964295141, 1e-15);
  EXPECT_EQ(b10.tiltX, 4.20735502f);
  EXPECT_EQ(b10.turnZ, 12.6220646f);
  EXPECT_EQ(b10.depth, -1.0f);  // only plane A moves in depth

  // Past the half turn s is negative; A's depth uses abs(h) and comes forward.
  const PlaneCallValues a40 = ComputePlaneCallValues(PlaneRoutine::A, 40.0);
  ASSERT_LT(a40.s, 0.0);
  EXPECT_NEAR(a40.depth, std::fabs(a40.h) - 1.0, 1e-7);
  EXPECT_GT(a40.depth, -1.0f);
}

// The replay's definition, frame by frame with nothing skipped: what the
// replay's shortcuts must reproduce bit for bit.
PlaneFades DrawEveryFrame(const Track* control, double row, double fps) {
  PlaneFades fades;
  for (int64_t frame = 0; frame * (20.0 / fps) < row; ++frame) {
    const double frameRow = frame * (20.0 / fps);
    const PlaneChoice plane = PlaneForControlCode(TruncateTrackValue(TrackValue(control, frameRow)));
    if (plane.routine != PlaneRoutine::None) StepFade(fades.Of(plane.routine), plane.fadeOut, frameRow);
  }
  return fades;
}

struct ControlTrack {
  std::vector<TrackKey> keys;
  Track track{nullptr, nullptr, 0};
  explicit ControlTrack(std::vector<TrackKey> k) : keys(std::move(k)) {
    track.keys = keys.data();
    track.keyCount = int32_t(keys.size());
  }
};

TEST(ReplayPlaneFades, MatchesDrawingEveryFrame) {
  const struct {
    const char* name;
    std::vector<TrackKey> keys;
  } shows[] = {
      {"A in, then out", {{0, 1, KindStep}, {40, 2, KindStep}, {200, 0, KindStep}}},
      {"planes taking turns",
       {{20, 5, KindStep}, {60, 3, KindStep}, {90, 6, KindStep}, {100, 11, KindStep}, {150, 4, KindStep},
        {400, 9, KindStep}}},
      {"a plane back before its fade ended", {{0, 3, KindStep}, {25, 0, KindStep}, {30, 3, KindStep}, {45, 4, KindStep}}},
      {"codes sliding between keys", {{0, 0.5f, KindLinear}, {100, 6.5f, KindSmooth}, {130, 1, KindRamp}, {160, 2, KindStep}}},
      {"a kind that gives 0 between keys", {{0, 5, 9}, {50, 5, KindStep}}},
  };
  for (const auto& show : shows) {
    const ControlTrack control(show.keys);
    for (double fps : {60.0, 144.0, 200.0, 24.0, 1000.0}) {
      for (double row : {0.0, 0.2, 39.9, 40.0, 40.1, 77.7, 250.0, 900.0}) {
        const PlaneFades fast = ReplayPlaneFades(&control.track, row, fps);
        const PlaneFades slow = DrawEveryFrame(&control.track, row, fps);
        for (FadeState PlaneFades::*fade : {&PlaneFades::a, &PlaneFades::b, &PlaneFades::c}) {
          EXPECT_EQ((fast.*fade).factor, (slow.*fade).factor) << show.name << ", " << fps << " fps, row " << row;
          EXPECT_EQ((fast.*fade).lastStepRow, (slow.*fade).lastStepRow)
              << show.name << ", " << fps << " fps, row " << row;
        }
      }
    }
  }
}

TEST(ReplayPlaneFades, CountsTheFramesAViewerSaw) {
  const ControlTrack control({{0, 1, KindStep}, {30, 2, KindStep}});
  const double step = static_cast<double>(0.005f);
  // 60 fps is a third of a row per frame: the frame at row 0 arms plane A and
  // each of the next 89 frames before row 30 steps it once.
  const PlaneFades in = ReplayPlaneFades(&control.track, 30.0, 60.0);
  EXPECT_NEAR(in.a.factor, 89 * step, 1e-12);
  EXPECT_EQ(in.a.lastStepRow, 89.0 * (20.0 / 60.0));
  EXPECT_EQ(in.b.lastStepRow, -1.0);
  // At 200 fps frames are exactly 0.1 rows apart, which is not beyond the
  // threshold: the fade moves on every second frame.
  EXPECT_NEAR(ReplayPlaneFades(&control.track, 10.0, 200.0).a.factor, 49 * step, 1e-12);
  // Fully in long before the track ends: it stays there, then fades out as
  // many steps as frames followed code 2.
  const ControlTrack late({{0, 1, KindStep}, {3000, 2, KindStep}});
  EXPECT_EQ(ReplayPlaneFades(&late.track, 3000.0, 60.0).a.factor, 1.0049999775364995);
  EXPECT_NEAR(ReplayPlaneFades(&late.track, 3010.0, 60.0).a.factor, 1.0049999775364995 - 30 * step, 1e-9);
  // Nothing to replay without a control track or before the first frame.
  EXPECT_EQ(ReplayPlaneFades(nullptr, 500.0, 60.0).a.lastStepRow, -1.0);
  EXPECT_EQ(ReplayPlaneFades(&control.track, 0.0, 60.0).a.lastStepRow, -1.0);
}

}  // namespace
