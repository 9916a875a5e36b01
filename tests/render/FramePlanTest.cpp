// What a frame decides from its track values: plane, backdrop slot, the end.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "render/FramePlan.h"

namespace {

FramePlan PlanWithControl(float control, float backN = 0.0f) {
  FrameTrackValues v;
  v.control = control;
  v.backN = backN;
  return PlanFrame(v);
}

struct ControlCase {
  float control;
  bool ends;
  PlaneRoutine routine;
  int32_t slot;
  int32_t fadeOut;
};

TEST(FramePlan, ControlTrackPicksThePlaneOrEndsTheShow) {
  using R = PlaneRoutine;
  const ControlCase cases[] = {
      {0.0f, false, R::None, 0, 0},
      {1.0f, false, R::A, 3, 0},   {2.0f, false, R::A, 3, 1},
      {3.0f, false, R::C, 4, 0},   {4.0f, false, R::C, 4, 1},
      {5.0f, false, R::B, 5, 0},   {6.0f, false, R::B, 5, 1},
      {7.0f, false, R::C, 0, 0},   {8.0f, false, R::C, 0, 1},
      {9.0f, false, R::A, 6, 0},   {10.0f, false, R::A, 6, 1},
      {11.0f, false, R::B, 6, 0},  {12.0f, false, R::None, 0, 0},
      {1.99f, false, R::A, 3, 0},  {11.99f, false, R::B, 6, 0},
      {-0.5f, false, R::None, 0, 0}, {-1.0f, false, R::None, 0, 0},
      {776.9f, false, R::None, 0, 0},
      {777.0f, true, R::None, 0, 0}, {777.9f, true, R::None, 0, 0},
      {778.0f, false, R::None, 0, 0}, {-777.0f, false, R::None, 0, 0},
      {1.0e10f, false, R::None, 0, 0}, {-1.0e10f, false, R::None, 0, 0},
      {std::numeric_limits<float>::infinity(), false, R::None, 0, 0},
      {std::numeric_limits<float>::quiet_NaN(), false, R::None, 0, 0},
  };
  for (const ControlCase& c : cases) {
    const FramePlan plan = PlanWithControl(c.control);
    EXPECT_EQ(plan.endsShow, c.ends) << "control " << c.control;
    EXPECT_EQ(plan.plane.routine, c.routine) << "control " << c.control;
    if (c.routine != R::None) {
      EXPECT_EQ(plan.plane.slot, c.slot) << "control " << c.control;
      EXPECT_EQ(plan.plane.fadeOut, c.fadeOut) << "control " << c.control;
    }
  }
}

TEST(FramePlan, TheEndingFrameDrawsNoPlaneWhateverElseTheTracksSay) {
  FrameTrackValues v;
  v.control = 777.5f;
  v.backN = 3.0f;
  const FramePlan plan = PlanFrame(v);
  EXPECT_TRUE(plan.endsShow);
  EXPECT_EQ(plan.plane.routine, PlaneRoutine::None);
}

TEST(FramePlan, BackdropSlotIsTheTruncatedTrackValue) {
  const struct {
    float backN;
    int32_t slot;
  } cases[] = {{0.0f, 0}, {2.9f, 2}, {6.0f, 6}, {-0.9f, 0}, {63.99f, 63}, {64.0f, 64}, {-1.5f, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(PlanWithControl(1.0f, c.backN).backdropSlot, c.slot) << "back.n " << c.backN;
  }
  // All tracks missing: every value is 0.0.
  EXPECT_EQ(PlanFrame(FrameTrackValues{}).backdropSlot, 0);
}

TEST(FramePlan, SlotsOutsideTheTableBindNoTexture) {
  uint32_t table[64];
  for (uint32_t n = 0; n < 64; ++n) table[n] = 100 + n;
  const struct {
    int32_t slot;
    uint32_t name;
  } cases[] = {{0, 100}, {2, 102}, {63, 163}, {64, 0}, {-1, 0}, {INT32_MAX, 0}, {INT32_MIN, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(TextureNameForSlot(table, 64, c.slot), c.name) << "slot " << c.slot;
  }
}

TEST(FramePlan, TrackValuesTruncateTowardZeroAndSaturate) {
  const struct {
    float value;
    int32_t expected;
  } cases[] = {
      {0.0f, 0},          {-0.0f, 0},          {2.9f, 2},           {-2.9f, -2},
      {777.99f, 777},     {2147483520.0f, 2147483520},  // largest float below 2^31
      {2147483648.0f, INT32_MAX},  {3.0e9f, INT32_MAX},  {-2147483648.0f, INT32_MIN},
      {-3.0e9f, INT32_MIN}, {std::numeric_limits<float>::quiet_NaN(), 0},
      {-std::numeric_limits<float>::infinity(), INT32_MIN},
  };
  for (const auto& c : cases) EXPECT_EQ(TruncateTrackValue(c.value), c.expected) << c.value;
}

TEST(FramePlan, ScrollOffsetStartsRightOfTheAxisAndBelowIt) {
  const ScrollOffset rest = ScrollTextOffset(0.0f, 0.0f);
  EXPECT_EQ(rest.x, 7.4f);
  EXPECT_EQ(rest.y, -3.5f);
  // The differences are taken in double and rounded once.
  const ScrollOffset moved = ScrollTextOffset(10.0f, 1.25f);
  EXPECT_EQ(moved.x, static_cast<float>(static_cast<double>(7.4f) - 10.0));
  EXPECT_EQ(moved.y, -2.25f);
  EXPECT_EQ(ScrollTextOffset(7.4f, 3.5f).x, 0.0f);
}

TEST(FramePlan, BackdropScaleIsOneMoreThanTheTrack) {
  EXPECT_EQ(BackdropScale(0.0f), 1.0f);
  EXPECT_EQ(BackdropScale(-1.0f), 0.0f);
  EXPECT_EQ(BackdropScale(0.25f), 1.25f);
}

}  // namespace
