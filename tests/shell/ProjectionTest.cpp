#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cmath>

#include "platform/Display.h"
#include "shell/Projection.h"
#include "shell/ShowPlayer.h"

namespace {

struct FitCase {
  int width, height;
  ViewportFit expected;
};

TEST(FitViewport, DesktopsOfEveryShape) {
  const FitCase cases[] = {
      // Within [1.77, 1.78): the whole window, the desktop's own ratio.
      {1920, 1080, {0, 0, 1920, 1080, 1920.0f / 1080.0f}},
      {1280, 720, {0, 0, 1280, 720, 1280.0f / 720.0f}},
      {1366, 768, {0, 0, 1366, 768, 1.7786459f}},
      {1360, 768, {0, 0, 1360, 768, 1360.0f / 768.0f}},
      // Narrower: a 16:9 band with bars above and below.
      {1024, 768, {0, 96, 1024, 576, 1.77777f}},
      {1280, 800, {0, 40, 1280, 720, 1.77777f}},
      {1280, 1024, {0, 152, 1280, 720, 1.77777f}},
      // Wider: the band overflows the window and is cropped top and bottom.
      {2560, 1080, {0, -180, 2560, 1440, 1.77777f}},
      // 1.78 itself is outside the 16:9 range (the upper bound is open); the
      // band's offset (1000 - 1001) / 2 truncates toward zero.
      {1780, 1000, {0, 0, 1780, 1001, 1.77777f}},
      {1777, 1000, {0, 0, 1777, 1000, 1.777f}},
  };
  for (const FitCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
    const ViewportFit fit = FitViewport(c.width, c.height);
    EXPECT_EQ(fit.x, c.expected.x);
    EXPECT_EQ(fit.y, c.expected.y);
    EXPECT_EQ(fit.width, c.expected.width);
    EXPECT_EQ(fit.height, c.expected.height);
    EXPECT_EQ(fit.aspect, c.expected.aspect);
  }
}

TEST(FitViewport, RatioAndBoundsAreComparedInSinglePrecision) {
  // 1.76999999 is below 1.77 in double precision but rounds onto 1.77f: 16:9.
  const ViewportFit low = FitViewport(176999999, 100000000);
  EXPECT_EQ(low.height, 100000000);
  EXPECT_EQ(low.aspect, 1.77f);
  // 1.77999998 is below 1.78 in double precision but rounds onto 1.78f, the
  // open upper bound: letterboxed.
  const ViewportFit high = FitViewport(177999998, 100000000);
  EXPECT_EQ(high.aspect, 1.77777f);
  EXPECT_EQ(high.height, 100168822);
  EXPECT_EQ(high.y, -84411);
  // Just below the lower bound.
  EXPECT_NE(FitViewport(17699, 10000).y, 0);
}

TEST(SetupProjection, ViewportAndPerspectiveOnTheGlContext) {
  ASSERT_TRUE(OpenDisplay());
  ASSERT_TRUE(CreateDemoWindow(320, 240, 0));
  SetupProjection(DesktopMode{1024, 768, 24});
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[0], 0);
  EXPECT_EQ(viewport[1], 96);
  EXPECT_EQ(viewport[2], 1024);
  EXPECT_EQ(viewport[3], 576);
  GLint mode = 0;
  glGetIntegerv(GL_MATRIX_MODE, &mode);
  EXPECT_EQ(mode, GL_MODELVIEW);
  GLfloat p[16], m[16];
  glGetFloatv(GL_PROJECTION_MATRIX, p);
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);  // 45 degrees vertical
  const double nearZ = 0.1f, farZ = 100.0;
  // The aspect is the single-precision 1.77777f, not 16/9: the two put p[0]
  // 6e-6 apart, a float's rounding here is about 1e-7.
  EXPECT_NEAR(p[0], f / 1.77777f, 1e-6);
  EXPECT_NEAR(p[5], f, 1e-5);
  EXPECT_NEAR(p[10], (farZ + nearZ) / (nearZ - farZ), 1e-5);
  EXPECT_NEAR(p[14], 2 * farZ * nearZ / (nearZ - farZ), 1e-6);
  EXPECT_EQ(p[11], -1.0f);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], (i % 5 == 0) ? 1.0f : 0.0f) << i;
}

}  // namespace

// The fixed state as the frames rely on it: a second draw at the same depth
// wins (the text's faces and the tiles' edges meet at equal depths), a draw
// behind is hidden, and colours blend smoothly between vertices.
TEST(SetFixedGlState, EqualDepthDrawsOverFartherHidesColoursBlend) {
  ASSERT_TRUE(OpenDisplay());
  ASSERT_TRUE(CreateDemoWindow(64, 64, 0));
  glViewport(0, 0, 64, 64);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glShadeModel(GL_FLAT);
  glDisable(GL_DEPTH_TEST);
  glDepthFunc(GL_LESS);
  glClearDepth(0.0);
  SetFixedGlState();

  const auto quad = [](float z, float r0, float g0, float b0, float r1, float g1, float b1) {
    glBegin(GL_QUADS);
    glColor3f(r0, g0, b0);
    glVertex3f(-1, -1, z);
    glVertex3f(-1, 1, z);
    glColor3f(r1, g1, b1);
    glVertex3f(1, 1, z);
    glVertex3f(1, -1, z);
    glEnd();
  };
  glClearColor(0, 0, 0, 1);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  quad(0.2f, 1, 0, 0, 1, 0, 0);  // red
  quad(0.2f, 0, 1, 0, 0, 0, 1);  // the same depth: drawn over, green on the left to blue on the right
  quad(0.6f, 1, 1, 1, 1, 1, 1);  // behind: hidden
  unsigned char left[4], middle[4];
  glReadPixels(2, 32, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, left);
  glReadPixels(32, 32, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, middle);
  EXPECT_EQ(left[0], 0);
  EXPECT_GT(left[1], 230);
  EXPECT_LT(left[2], 25);
  EXPECT_EQ(middle[0], 0) << "white from behind, or red kept at the same depth";
  EXPECT_NEAR(middle[1], 128, 12) << "smooth shading blends the two colours";
  EXPECT_NEAR(middle[2], 128, 12);
}
