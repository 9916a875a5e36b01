// Frames composed offscreen at chosen track values: the backdrop's place,
// texture and tint, the plane each control code draws, and the scroll text's
// entry from the right edge.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>

#include "RenderGl.h"
#include "image/TextureTable.h"
#include "render/DemoFrame.h"
#include "render/ImagePlanes.h"
#include "render/OutlineFont.h"
#include "render/FramePlan.h"
#include "render/ScrollText.h"
#include "sync/MusicClock.h"
#include "sync/Tracks.h"

namespace {

using namespace rendertest;

constexpr Colour ClearBlue{0, 51, 128};
constexpr Colour White{255, 255, 255};
constexpr Colour Black{0, 0, 0};

// Half the view's height and width at depth d under the 45-degree 16:9 view.
double HalfHeightAt(double depth) { return depth * std::tan(M_PI / 8); }
double HalfWidthAt(double depth) { return HalfHeightAt(depth) * Width / Height; }

class DemoFrameGl : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SetUpDemoGl()) GTEST_SKIP() << "no offscreen GL context";
    static bool fontReady = false;
    if (!fontReady) {
      CreateOutlineFont();
      fontReady = true;
    }
    SetPlaneFades({});
  }

  static std::vector<uint8_t> Compose(const FrameTrackValues& v, double row = 0.0) {
    ComposeFrame(PlanFrame(v), v, row);
    return Grab();
  }

  static FrameTrackValues WhiteBackdrop(float slot) {
    FrameTrackValues v;
    v.backN = slot;
    v.backR = v.backG = v.backB = 1.0f;
    return v;
  }
};

// The extent of a colour along the picture's middle row and middle column.
struct Extent {
  int first = -1, last = -1;
  int Length() const { return first < 0 ? 0 : last - first + 1; }
};

Extent RowExtent(const std::vector<uint8_t>& pixels, int y, Colour c) {
  Extent e;
  for (int x = 0; x < Width; ++x) {
    if (Near(testsupport::PixelAt(pixels, Width, Height, x, y), c)) {
      if (e.first < 0) e.first = x;
      e.last = x;
    }
  }
  return e;
}

Extent ColumnExtent(const std::vector<uint8_t>& pixels, int x, Colour c) {
  Extent e;
  for (int y = 0; y < Height; ++y) {
    if (Near(testsupport::PixelAt(pixels, Width, Height, x, y), c)) {
      if (e.first < 0) e.first = y;
      e.last = y;
    }
  }
  return e;
}

TEST_F(DemoFrameGl, NaturalBackdropCoversTheMiddleOfThePicture) {
  const auto pixels = Compose(WhiteBackdrop(0.0f));
  Keep(pixels, "backdrop");
  const Colour red = SlotColours[0];
  // A 2 x 2 square at depth 4: 60 % of the height, 34 % of the width.
  const double expectedW = Width / HalfWidthAt(4.0);
  const double expectedH = Height / HalfHeightAt(4.0);
  EXPECT_NEAR(expectedH / Height, 0.60, 0.005);
  EXPECT_NEAR(expectedW / Width, 0.34, 0.005);
  const Extent across = RowExtent(pixels, Height / 2, red);
  const Extent down = ColumnExtent(pixels, Width / 2, red);
  EXPECT_NEAR(across.Length(), expectedW, 1.5);
  EXPECT_NEAR(down.Length(), expectedH, 1.5);
  EXPECT_NEAR((across.first + across.last + 1) / 2.0, Width / 2.0, 1.0);
  EXPECT_NEAR((down.first + down.last + 1) / 2.0, Height / 2.0, 1.0);
  EXPECT_TRUE(Near(testsupport::PixelAt(pixels, Width, Height, 2, 2), ClearBlue));
}

TEST_F(DemoFrameGl, BackdropFollowsPositionScaleAndRotation) {
  struct Case {
    const char* name;
    float x, y, scale, rotZ;
    double centreX, centreY, halfW, halfH;  // in GL units at depth 4
  } cases[] = {
      {"moved right and up", 1.0f, 0.5f, 0.0f, 0.0f, 1.0, 0.5, 1.0, 1.0},
      {"half size", 0.0f, 0.0f, -0.5f, 0.0f, 0.0, 0.0, 0.5, 0.5},
      {"turned 45 about the view axis", 0.0f, 0.0f, 0.0f, 45.0f, 0.0, 0.0, std::sqrt(2.0),
       std::sqrt(2.0)},
  };
  for (const Case& c : cases) {
    FrameTrackValues v = WhiteBackdrop(2.0f);
    v.backX = c.x, v.backY = c.y, v.backScale = c.scale, v.backRotZ = c.rotZ;
    const auto pixels = Compose(v);
    const double pxPerUnitX = Width / (2 * HalfWidthAt(4.0));
    const double pxPerUnitY = Height / (2 * HalfHeightAt(4.0));
    const int cx = static_cast<int>(Width / 2.0 + c.centreX * pxPerUnitX);
    const int cy = static_cast<int>(Height / 2.0 - c.centreY * pxPerUnitY);
    const Extent across = RowExtent(pixels, cy, SlotColours[2]);
    const Extent down = ColumnExtent(pixels, cx, SlotColours[2]);
    EXPECT_NEAR(across.Length(), 2 * c.halfW * pxPerUnitX, 2.0) << c.name;
    EXPECT_NEAR(down.Length(), 2 * c.halfH * pxPerUnitY, 2.0) << c.name;
    EXPECT_NEAR((across.first + across.last + 1) / 2.0, Width / 2.0 + c.centreX * pxPerUnitX, 1.5)
        << c.name;
  }
}

TEST_F(DemoFrameGl, BackdropSlotAndTint) {
  struct Case {
    const char* name;
    FrameTrackValues values;
    Colour centre;
  };
  FrameTrackValues truncated = WhiteBackdrop(2.9f);
  FrameTrackValues missing;  // every track without keys: slot 0, black tint
  FrameTrackValues tinted = WhiteBackdrop(3.0f);  // yellow image, red tint only
  tinted.backG = 0.0f;
  FrameTrackValues outside = WhiteBackdrop(100.0f);  // no texture: the tint alone
  outside.backR = 0.0f, outside.backB = 0.0f;
  FrameTrackValues negative = WhiteBackdrop(-3.0f);
  negative.backG = 0.0f;
  const Case cases[] = {
      {"back.n 2.9 binds slot 2", truncated, SlotColours[2]},
      {"missing tracks: slot 0 tinted black", missing, Black},
      {"tint modulates the image", tinted, {255, 0, 0}},
      {"slot 100 draws the tint", outside, {0, 255, 0}},
      {"slot -3 draws the tint", negative, {255, 0, 255}},
  };
  for (const Case& c : cases) {
    const auto pixels = Compose(c.values);
    const auto p = testsupport::PixelAt(pixels, Width, Height, Width / 2, Height / 2);
    EXPECT_TRUE(Near(p, c.centre)) << c.name << ": " << int(p.r) << " " << int(p.g) << " "
                                   << int(p.b);
  }
}

TEST_F(DemoFrameGl, ControlCodesDrawTheirPlaneWithTheirImage) {
  struct Case {
    float control;
    FadeState PlaneFades::*fade;
    int slot;
  } cases[] = {
      {1, &PlaneFades::a, 3}, {2, &PlaneFades::a, 3}, {3, &PlaneFades::c, 4}, {4, &PlaneFades::c, 4},
      {5, &PlaneFades::b, 5}, {6, &PlaneFades::b, 5}, {7, &PlaneFades::c, 0}, {8, &PlaneFades::c, 0},
      {9, &PlaneFades::a, 6}, {10, &PlaneFades::a, 6}, {11, &PlaneFades::b, 6},
  };
  for (const Case& c : cases) {
    ResetDemoGlState();
    // Half faded in and armed two rows back: this frame steps the fade once
    // in the direction its code asks for.
    SetPlaneFades({FadeState{0.5, 8.0}, FadeState{0.5, 8.0}, FadeState{0.5, 8.0}});
    FrameTrackValues v;
    v.control = c.control;
    v.backScale = -1.0f;  // no backdrop over the plane
    const auto pixels = Compose(v, 10.0);
    const bool fadesOut = static_cast<int>(c.control) % 2 == 0 && c.control != 11;
    const double step = static_cast<double>(0.005f);
    EXPECT_EQ((CurrentPlaneFades().*c.fade).factor, fadesOut ? 0.5 - step : 0.5 + step) << "code " << c.control;
    EXPECT_EQ((CurrentPlaneFades().*c.fade).lastStepRow, 10.0) << "code " << c.control;
    for (FadeState PlaneFades::*other : {&PlaneFades::a, &PlaneFades::b, &PlaneFades::c}) {
      if (other != c.fade) {
        EXPECT_EQ((CurrentPlaneFades().*other).lastStepRow, 8.0) << "code " << c.control;
      }
    }
    EXPECT_GT(CountNear(pixels, SlotColours[c.slot]), Width * Height / 20) << "code " << c.control;
  }
}

TEST_F(DemoFrameGl, CodesWithoutAPlaneLeaveEveryFadeAlone) {
  for (float control : {0.0f, -0.5f, 12.0f, 776.9f, 778.0f}) {
    SetPlaneFades({FadeState{0.5, 8.0}, FadeState{0.5, 8.0}, FadeState{0.5, 8.0}});
    FrameTrackValues v;
    v.control = control;
    v.backScale = -1.0f;
    const auto pixels = Compose(v, 10.0);
    for (FadeState PlaneFades::*fade : {&PlaneFades::a, &PlaneFades::b, &PlaneFades::c}) {
      EXPECT_EQ((CurrentPlaneFades().*fade).factor, 0.5) << "control " << control;
      EXPECT_EQ((CurrentPlaneFades().*fade).lastStepRow, 8.0) << "control " << control;
    }
    EXPECT_EQ(CountNear(pixels, ClearBlue), Width * Height) << "control " << control;
  }
}

TEST_F(DemoFrameGl, PlaneADepthTestStaysOffForLaterFrames) {
  FrameTrackValues v;
  v.control = 1.0f;
  SetPlaneFades({FadeState{0.5, 0.0}, {}, {}});
  Compose(v, 10.0);
  v.control = 0.0f;
  Compose(v, 11.0);
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
}

TEST_F(DemoFrameGl, ScrollTextEntersFromTheRightEdge) {
  // The line's origin at depth 1 lies 0.1 * (7.4 - scroll.x) right of the axis
  // and 0.35 below it: just outside the right edge at scroll.x 0.
  const auto firstColumn = [](double scrollX) {
    return (0.1 * (7.4 - scrollX) / HalfWidthAt(1.0) + 1) * 0.5 * Width;
  };
  const double baselineRow = (0.35 / HalfHeightAt(1.0) + 1) * 0.5 * Height;

  FrameTrackValues v;
  v.backScale = -1.0f;
  EXPECT_GT(firstColumn(0.0), Width);
  EXPECT_EQ(CountNear(Compose(v), White), 0) << "nothing of the line shows at scroll.x 0";

  for (float scrollX : {2.0f, 4.0f}) {
    v.scrollX = scrollX;
    const auto pixels = Compose(v);
    Keep(pixels, scrollX == 2.0f ? "scroll-2" : "scroll-4");
    int left = Width, top = Height, bottom = -1;
    for (int y = 0; y < Height; ++y) {
      for (int x = 0; x < Width; ++x) {
        if (!Near(testsupport::PixelAt(pixels, Width, Height, x, y), White)) continue;
        left = std::min(left, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
    ASSERT_GE(bottom, 0) << "the line shows at scroll.x " << scrollX;
    EXPECT_NEAR(left, firstColumn(scrollX), 3.0) << "scroll.x " << scrollX;
    // Capitals stand on the baseline about 0.07 units tall at depth 1.
    EXPECT_NEAR(bottom, baselineRow, 2.0) << "scroll.x " << scrollX;
    EXPECT_GT(top, baselineRow - 0.09 / HalfHeightAt(1.0) * 0.5 * Height);
  }
}

TEST_F(DemoFrameGl, ScrollYLiftsAndScrollRTiltsTheLine) {
  struct Span {
    int top = Height, bottom = -1;
  };
  const auto whiteRows = [](const std::vector<uint8_t>& pixels) {
    Span span;
    for (int y = 0; y < Height; ++y) {
      for (int x = 0; x < Width; ++x) {
        if (Near(testsupport::PixelAt(pixels, Width, Height, x, y), White)) {
          span.top = std::min(span.top, y);
          span.bottom = std::max(span.bottom, y);
        }
      }
    }
    return span;
  };
  FrameTrackValues v;
  v.backScale = -1.0f;
  v.scrollX = 4.0f;
  const Span level = whiteRows(Compose(v));
  v.scrollY = 1.0f;  // 0.1 units up at depth 1
  const Span lifted = whiteRows(Compose(v));
  EXPECT_NEAR(level.bottom - lifted.bottom, 0.1 / HalfHeightAt(1.0) * 0.5 * Height, 1.5);
  v.scrollY = 0.0f;
  v.scrollR = 60.0f;
  const Span tilted = whiteRows(Compose(v));
  // Turned about the baseline, the glyph tops rise by cos 60 of their height
  // and come towards the viewer by sin 60 of it, which perspective magnifies.
  const double pxPerUnit = 0.5 * Height / HalfHeightAt(1.0);
  const double capHeight = (level.bottom - level.top) / pxPerUnit;
  const double a = 60.0 * M_PI / 180.0;
  const double topY = (-0.35 + capHeight * std::cos(a)) / (1.0 - capHeight * std::sin(a));
  EXPECT_NEAR(tilted.bottom - tilted.top, (topY + 0.35) * pxPerUnit, 1.5);
  EXPECT_NEAR(tilted.bottom, level.bottom, 1.0);
}

// The scroll line drawn whole and drawn with its out-of-view glyphs skipped:
// the same pixels and the same final matrix at every place and tilt, edge-on
// and turned over included.
TEST_F(DemoFrameGl, SkippingGlyphsOutOfViewChangesNoPixel) {
  const auto drawLine = [](float x, float y, float r, bool onlyVisible, GLfloat* matrix) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1.0f, 1.0f, 1.0f);
    glDisable(GL_TEXTURE_2D);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, -1.0f);
    glScalef(0.1f, 0.1f, 0.1f);
    const ScrollOffset offset = ScrollTextOffset(x, y);
    glTranslatef(offset.x, offset.y, 0.0f);
    glRotatef(r, 1.0f, 0.0f, 0.0f);
    if (onlyVisible) {
      PrintVisibleText(ScrollText);
    } else {
      PrintText(ScrollText, false);
    }
    glGetFloatv(GL_MODELVIEW_MATRIX, matrix);
    return Grab();
  };
  const struct {
    float x, y, r;
  } cases[] = {{0, 0, 0},     {4, 0, 0},       {37.5f, 1, 12},  {250, -3, 45},  {400, 0, 89},
               {400, 0, 90},  {512.25f, 2, 91}, {600, 0, 180},  {700, -1, -35}, {735, 0, 0},
               {300, 40, 0},  {300, -40, 0},   {-20, 0, 0},     {300, 0, 270}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "scroll " << c.x << ", " << c.y << ", tilt " << c.r);
    GLfloat whole[16], skipped[16];
    const std::vector<uint8_t> reference = drawLine(c.x, c.y, c.r, false, whole);
    const std::vector<uint8_t> pixels = drawLine(c.x, c.y, c.r, true, skipped);
    EXPECT_TRUE(pixels == reference) << CountNear(reference, White) << " white pixels drawn whole, "
                                     << CountNear(pixels, White) << " with glyphs skipped";
    for (int i = 0; i < 16; ++i) EXPECT_EQ(skipped[i], whole[i]) << "matrix entry " << i;
  }
}

// Each of the fourteen values comes from its own track, at the frame's row.
TEST(FrameTracks, EachValueComesFromItsOwnTrackAtTheRow) {
  float FrameTrackValues::*const fields[] = {
      &FrameTrackValues::control,  &FrameTrackValues::backN,    &FrameTrackValues::backX,
      &FrameTrackValues::backY,    &FrameTrackValues::backR,    &FrameTrackValues::backG,
      &FrameTrackValues::backB,    &FrameTrackValues::backScale, &FrameTrackValues::backRotX,
      &FrameTrackValues::backRotY, &FrameTrackValues::backRotZ, &FrameTrackValues::scrollX,
      &FrameTrackValues::scrollY,  &FrameTrackValues::scrollR,
  };
  constexpr int N = sizeof(fields) / sizeof(fields[0]);
  static TrackKey keys[N][2];
  static Track tracks[N];
  Track* saved[FrameTrackCount];
  std::copy(FrameTrackHandles, FrameTrackHandles + FrameTrackCount, saved);
  for (int k = 0; k < N; ++k) {
    // The track of field k runs linearly from k at row 0 to k + 100 at row 100.
    keys[k][0] = {0, static_cast<float>(k), KindLinear};
    keys[k][1] = {100, static_cast<float>(k + 100), KindLinear};
    tracks[k] = {nullptr, keys[k], 2};
    const std::size_t index = FrameTrackIndex(fields[k]);
    ASSERT_LT(index, FrameTrackCount) << "field " << k << " has no track";
    FrameTrackHandles[index] = &tracks[k];
  }
  const FrameTrackValues v = EvaluateFrameTracks(25.5);
  std::copy(saved, saved + FrameTrackCount, FrameTrackHandles);
  for (int k = 0; k < N; ++k) EXPECT_FLOAT_EQ(v.*fields[k], k + 25.5f) << "field " << k;
}

TEST(FrameTracks, TracksNeverRequestedCountAsZero) {
  Track** control = &FrameTrackHandles[FrameTrackIndex(&FrameTrackValues::control)];
  Track* saved = *control;
  *control = nullptr;
  EXPECT_EQ(EvaluateFrameTracks(10.0).control, 0.0f);
  *control = saved;
}

}  // namespace
