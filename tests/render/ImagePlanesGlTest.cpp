// The image planes drawn offscreen: what shows on the first call, where the
// tiles land after a full fade, and the GL state each routine leaves behind.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "RenderGl.h"
#include "image/TextureTable.h"
#include "render/ImagePlanes.h"

namespace {

using namespace rendertest;

using PlaneRoutineFn = void (*)(int32_t, int32_t, double);

constexpr Colour ClearBlue{0, 51, 128};

// ---- An independent model of where a tile lands on screen -----------------
// Column-major 4x4 matrices built the way the fixed-function pipeline builds
// them, so the expected picture comes from the plane's geometry and not from
// the code under test.
using Mat4 = std::array<double, 16>;

Mat4 Identity() { return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}; }

Mat4 Mul(const Mat4& a, const Mat4& b) {
  Mat4 r{};
  for (int c = 0; c < 4; ++c)
    for (int rr = 0; rr < 4; ++rr)
      for (int k = 0; k < 4; ++k) r[c * 4 + rr] += a[k * 4 + rr] * b[c * 4 + k];
  return r;
}

Mat4 Translate(double x, double y, double z) {
  Mat4 m = Identity();
  m[12] = x, m[13] = y, m[14] = z;
  return m;
}

Mat4 Scale(double x, double y, double z) {
  Mat4 m = Identity();
  m[0] = x, m[5] = y, m[10] = z;
  return m;
}

Mat4 Rotate(double degrees, double x, double y, double z) {
  const double len = std::sqrt(x * x + y * y + z * z);
  x /= len, y /= len, z /= len;
  const double c = std::cos(degrees * M_PI / 180.0), s = std::sin(degrees * M_PI / 180.0);
  return {x * x * (1 - c) + c,     y * x * (1 - c) + z * s, x * z * (1 - c) - y * s, 0,
          x * y * (1 - c) - z * s, y * y * (1 - c) + c,     y * z * (1 - c) + x * s, 0,
          x * z * (1 - c) + y * s, y * z * (1 - c) - x * s, z * z * (1 - c) + c,     0,
          0,                       0,                       0,                       1};
}

Mat4 Perspective(double fovY, double aspect, double zNear, double zFar) {
  const double f = 1.0 / std::tan(fovY * M_PI / 360.0);
  Mat4 m{};
  m[0] = f / aspect, m[5] = f, m[10] = (zFar + zNear) / (zNear - zFar), m[11] = -1;
  m[14] = 2 * zFar * zNear / (zNear - zFar);
  return m;
}

struct Point {
  double x, y;  // pixel coordinates, origin top left
};

Point ToScreen(const Mat4& m, double x, double y) {
  const double cx = m[0] * x + m[4] * y + m[12], cy = m[1] * x + m[5] * y + m[13];
  const double cw = m[3] * x + m[7] * y + m[15];
  return {(cx / cw + 1) * 0.5 * Width, (1 - cy / cw) * 0.5 * Height};
}

using Quad = std::array<Point, 4>;

// Signed distance in pixels from p to the nearest edge of a convex quad,
// positive inside.
double InsideDistance(const Quad& q, Point p) {
  double area = 0;
  for (int k = 0; k < 4; ++k) area += q[k].x * q[(k + 1) % 4].y - q[(k + 1) % 4].x * q[k].y;
  const double sign = area > 0 ? 1 : -1;
  double nearest = 1e300;
  for (int k = 0; k < 4; ++k) {
    const Point a = q[k], b = q[(k + 1) % 4];
    const double ex = b.x - a.x, ey = b.y - a.y, len = std::hypot(ex, ey);
    nearest = std::min(nearest, sign * (ex * (p.y - a.y) - ey * (p.x - a.x)) / len);
  }
  return nearest;
}

// Where each tile of a fully faded-in plane lands at row 0 (no sway, no tilt).
struct PlaneGeometry {
  int rows;
  double x0, xStep, y0, yStep, base;
  bool turned45;
};

std::vector<Quad> TilesAtRowZero(const PlaneGeometry& g, double fade) {
  const Mat4 projection = Perspective(45.0, static_cast<float>(Width) / Height, 0.1, 100.0);
  std::vector<Quad> quads;
  for (int i = 0; i < g.rows; ++i) {
    for (int j = 0; j < 14; ++j) {
      const double wobble = std::fabs(std::sin(i + j)) * 0.01;
      Mat4 m = Mul(projection, Translate(0, 0, -1));
      m = Mul(m, Translate(g.x0 + j * g.xStep, g.y0 + i * g.yStep, -1));
      m = Mul(m, Scale((wobble + g.base) * fade, (wobble + g.base) * fade, 1));
      if (g.turned45) m = Mul(m, Rotate(45, 1, 1, 1));
      quads.push_back({ToScreen(m, -1, -1), ToScreen(m, 1, -1), ToScreen(m, 1, 1), ToScreen(m, -1, 1)});
    }
  }
  return quads;
}

struct PlaneCase {
  const char* name;
  PlaneRoutineFn draw;
  FadeState PlaneFades::*fade;
  int32_t slot;
  PlaneGeometry geometry;
};

FadeState FadeOf(FadeState PlaneFades::*fade) { return CurrentPlaneFades().*fade; }

const PlaneCase Planes[] = {
    {"A", DrawImagePlaneA, &PlaneFades::a, 3, {7, -1.43, 0.22, -0.66, 0.22, 0.1, true}},
    {"B", DrawImagePlaneB, &PlaneFades::b, 5, {8, -1.87, 0.6, -0.44, 0.52, 0.4, false}},
    {"C", DrawImagePlaneC, &PlaneFades::c, 4, {8, -1.87, 1.0, -0.44, 0.22, 0.4, false}},
};

class ImagePlanesGl : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!SetUpDemoGl()) GTEST_SKIP() << "no offscreen GL context";
    SetPlaneFades({});
  }
  static void Clear() {
    glClearColor(0.0f, 0.2f, 0.5f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  }
  // Arms the routine at row 0, then 201 calls each half a row from the last
  // (alternating rows 0.5 and 0.0), then draws once more at row 0, where the
  // planes neither sway nor tilt.
  static void FadeFullyIn(const PlaneCase& plane) {
    plane.draw(plane.slot, 0, 0.0);
    for (int n = 0; n < 201; ++n) plane.draw(plane.slot, 0, n % 2 == 0 ? 0.5 : 0.0);
    Clear();
    plane.draw(plane.slot, 0, 0.0);
  }
};

TEST_F(ImagePlanesGl, FirstCallDrawsNothing) {
  for (const PlaneCase& plane : Planes) {
    Clear();
    plane.draw(plane.slot, 0, 12.5);
    EXPECT_EQ(CountNear(Grab(), ClearBlue, 0, 0, Width, Height, 0), Width * Height) << plane.name;
    EXPECT_EQ(FadeOf(plane.fade).factor, 0.0) << plane.name;
    EXPECT_EQ(FadeOf(plane.fade).lastStepRow, 12.5) << plane.name;
  }
}

TEST_F(ImagePlanesGl, FullyFadedTilesCoverWhereTheirGeometrySays) {
  for (const PlaneCase& plane : Planes) {
    FadeFullyIn(plane);
    ASSERT_EQ(FadeOf(plane.fade).factor, 1.0049999775364995) << plane.name;
    const auto pixels = Grab();
    Keep(pixels, (std::string("plane-") + plane.name).c_str());

    const std::vector<Quad> tiles = TilesAtRowZero(plane.geometry, FadeOf(plane.fade).factor);
    const Colour image = SlotColours[plane.slot];
    int covered = 0, empty = 0, wrong = 0;
    for (int y = 0; y < Height; ++y) {
      for (int x = 0; x < Width; ++x) {
        double deepest = -1e300;
        for (const Quad& q : tiles) deepest = std::max(deepest, InsideDistance(q, {x + 0.5, y + 0.5}));
        if (std::fabs(deepest) < 1.0) continue;  // on an edge: either colour is right
        const auto p = testsupport::PixelAt(pixels, Width, Height, x, y);
        const bool expectImage = deepest > 0;
        (expectImage ? covered : empty)++;
        if (!Near(p, expectImage ? image : ClearBlue)) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << plane.name << ": " << covered << " covered, " << empty << " empty";
    EXPECT_GT(covered, Width * Height / 4) << plane.name;
  }
}

TEST_F(ImagePlanesGl, PlaneCShowsGapsBetweenItsColumns) {
  // Tiles 0.8 wide every 1.0 units: at depth 2 the gap at x = -0.37 is clear.
  FadeFullyIn(Planes[2]);
  const auto pixels = Grab();
  const int gapX = static_cast<int>((-0.37 / (2 * std::tan(M_PI / 8) * Width / Height) + 1) * 0.5 * Width);
  EXPECT_EQ(CountNear(pixels, ClearBlue, gapX, 0, gapX + 1, Height), Height);
}

TEST_F(ImagePlanesGl, HalfFadedTilesAreHalfTheSize) {
  // 100 steps in and one out leave the factor at 0.495: the tiles must shrink
  // about their own centres, not vanish and not stay full size.
  const PlaneCase& plane = Planes[1];
  plane.draw(plane.slot, 0, 0.5);
  for (int n = 0; n < 100; ++n) plane.draw(plane.slot, 0, n % 2 == 0 ? 0.0 : 0.5);
  ASSERT_NEAR(FadeOf(plane.fade).factor, 0.5, 1e-6);
  Clear();
  plane.draw(plane.slot, 1, 0.0);  // 0.5 away from the last step: one step out
  EXPECT_NEAR(FadeOf(plane.fade).factor, 0.495, 1e-6);
  const auto pixels = Grab();
  const std::vector<Quad> tiles = TilesAtRowZero(plane.geometry, FadeOf(plane.fade).factor);
  int wrong = 0, covered = 0;
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      double deepest = -1e300;
      for (const Quad& q : tiles) deepest = std::max(deepest, InsideDistance(q, {x + 0.5, y + 0.5}));
      if (std::fabs(deepest) < 1.0) continue;
      covered += deepest > 0;
      if (!Near(testsupport::PixelAt(pixels, Width, Height, x, y),
                deepest > 0 ? SlotColours[plane.slot] : ClearBlue))
        ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_GT(covered, 0);
  EXPECT_LT(covered, Width * Height * 3 / 4);
}

TEST_F(ImagePlanesGl, EachRoutineLeavesTheStateTheFrameReliesOn) {
  for (const PlaneCase& plane : Planes) {
    ResetDemoGlState();
    glDisable(GL_TEXTURE_2D);
    glColor3f(0.2f, 0.3f, 0.4f);
    glTranslatef(5.0f, 6.0f, 7.0f);
    PlaneFades fades;
    (fades.*plane.fade).factor = 0.5;  // so that the tiles are drawn
    SetPlaneFades(fades);
    plane.draw(plane.slot, 0, 33.0);

    GLfloat modelview[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    const GLfloat expected[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -1, 1};
    for (int k = 0; k < 16; ++k) EXPECT_EQ(modelview[k], expected[k]) << plane.name << " m" << k;
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    EXPECT_EQ(colour[0], 1.0f) << plane.name;
    EXPECT_EQ(colour[1], 1.0f) << plane.name;
    EXPECT_EQ(colour[2], 1.0f) << plane.name;
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(static_cast<GLuint>(bound), TextureTable[plane.slot]) << plane.name;
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW) << plane.name;
    EXPECT_TRUE(glIsEnabled(GL_BLEND)) << plane.name;

    const bool isA = plane.draw == DrawImagePlaneA;
    EXPECT_EQ(glIsEnabled(GL_DEPTH_TEST), isA ? GL_FALSE : GL_TRUE) << plane.name;
    EXPECT_EQ(glIsEnabled(GL_TEXTURE_2D), isA ? GL_FALSE : GL_TRUE) << plane.name;
  }
}

TEST_F(ImagePlanesGl, SwitchingSlotsKeepsTheFactorAndShowsTheNewImage) {
  DrawImagePlaneA(3, 0, 0.0);
  for (int n = 1; n <= 50; ++n) DrawImagePlaneA(3, 0, n * 0.25);
  const double before = CurrentPlaneFades().a.factor;
  Clear();
  DrawImagePlaneA(6, 0, 51 * 0.25);
  EXPECT_EQ(CurrentPlaneFades().a.factor, before + static_cast<double>(0.005f));
  const auto pixels = Grab();
  EXPECT_GT(CountNear(pixels, SlotColours[6]), 0);
  EXPECT_EQ(CountNear(pixels, SlotColours[3]), 0);
}

TEST_F(ImagePlanesGl, EachRoutineKeepsItsOwnFade) {
  DrawImagePlaneB(5, 0, 0.0);
  DrawImagePlaneB(5, 0, 1.0);
  DrawImagePlaneC(4, 0, 2.0);  // arms C only
  EXPECT_EQ(CurrentPlaneFades().b.factor, static_cast<double>(0.005f));
  EXPECT_EQ(CurrentPlaneFades().c.factor, 0.0);
  EXPECT_EQ(CurrentPlaneFades().a.factor, 0.0);
  EXPECT_EQ(CurrentPlaneFades().a.lastStepRow, -1.0);
}

}  // namespace
