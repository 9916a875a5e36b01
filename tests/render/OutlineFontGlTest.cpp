#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/Fonts.h"
#include "render/OutlineFont.h"
#include "support/GlTestContext.h"

namespace {

constexpr int W = 240, H = 240;
// The view in em units: 240 pixels per em, the baseline 60 pixels up.
constexpr float Left = -0.25f, Right = 0.75f, Bottom = -0.25f, Top = 0.75f;

class OutlineFontTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(testsupport::MakeGlContext(W, H));
    if (OutlineFont.listBase == 0) CreateOutlineFont();
  }

  void SetUp() override {
    ASSERT_NE(OutlineFont.listBase, 0u);
    glViewport(0, 0, W, H);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(Left, Right, Bottom, Top, -10, 10);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    // Bare white glyphs: nothing left enabled by the frame tests that share
    // this process's context may tint or cut them.
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glColor3f(1, 1, 1);
  }

  void Read() { pixels = testsupport::ReadPixels(W, H); }
  void Save(const char* name) {
    testsupport::WritePng((std::string(DEMO_BINARY_DIR) + "/" + name).c_str(), pixels, W, H);
  }

  // Brightness of the pixel that shows the point (x, y) of em space.
  int At(float x, float y) const {
    const int px = static_cast<int>((x - Left) / (Right - Left) * W);
    const int py = static_cast<int>((Top - y) / (Top - Bottom) * H);
    if (px < 0 || px >= W || py < 0 || py >= H) return -1;
    return testsupport::PixelAt(pixels, W, H, px, py).r;
  }
  bool Ink(float x, float y) const { return At(x, y) > 200; }
  bool Blank(float x, float y) const { return At(x, y) == 0; }

  static void DrawGlyph(unsigned char code) { glCallList(OutlineFont.listBase + code); }

  std::vector<uint8_t> pixels;
};

TEST_F(OutlineFontTest, AdvancesAreArialsInEmUnits) {
  const struct {
    unsigned char code;
    float advance;  // design units / 2048
  } cases[] = {
      {'A', 1479 / 2048.0f}, {' ', 569 / 2048.0f}, {'.', 569 / 2048.0f},
      {'o', 1251 / 2048.0f}, {'W', 1933 / 2048.0f}, {'1', 1139 / 2048.0f},
      {'i', 569 / 2048.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(OutlineFont.metrics[c.code].cellIncX, c.advance);
    EXPECT_EQ(OutlineFont.metrics[c.code].cellIncY, 0.0f);
  }
  EXPECT_EQ(OutlineFont.metrics['A'].cellIncX, 0.72216797f);
}

TEST_F(OutlineFontTest, UpperCodesAreWindows1252) {
  // An accented letter advances like its base letter in this face; a code read
  // as Latin-1 control characters (0x80..0x9F) would get no glyph at all.
  EXPECT_EQ(OutlineFont.metrics[0xE9].cellIncX, OutlineFont.metrics['e'].cellIncX);  // é
  EXPECT_EQ(OutlineFont.metrics[0xC4].cellIncX, OutlineFont.metrics['A'].cellIncX);  // Ä
  EXPECT_EQ(OutlineFont.metrics[0x8A].cellIncX, OutlineFont.metrics['S'].cellIncX);  // Š
  EXPECT_GT(OutlineFont.metrics[0x80].blackBoxX, 0.3f);                               // €
  EXPECT_EQ(OutlineFont.metrics[0x97].cellIncX, 1.0f);                                // em dash

  const struct {
    unsigned char code;
    unsigned unicode;
  } map[] = {{'A', 0x41}, {0x7F, 0x7F}, {0x80, 0x20AC}, {0x81, 0}, {0x8D, 0}, {0x8F, 0},
             {0x90, 0},   {0x9D, 0},    {0x92, 0x2019}, {0x9F, 0x178}, {0xA0, 0xA0}, {0xFF, 0xFF}};
  for (const auto& m : map) EXPECT_EQ(Cp1252ToUnicode(m.code), m.unicode) << int(m.code);
}

TEST_F(OutlineFontTest, GlyphsFillTheirShapes) {
  DrawGlyph('o');
  Read();
  Save("font_o.png");
  const GlyphMetric& o = OutlineFont.metrics['o'];
  const float cx = o.originX + o.blackBoxX / 2, cy = o.originY - o.blackBoxY / 2;
  EXPECT_TRUE(Blank(cx, cy)) << "the hole of the o is empty";
  EXPECT_TRUE(Ink(o.originX + 0.03f, cy)) << "left stroke";
  EXPECT_TRUE(Ink(o.originX + o.blackBoxX - 0.03f, cy)) << "right stroke";
  EXPECT_TRUE(Ink(cx, o.originY - 0.03f)) << "top stroke";
  EXPECT_TRUE(Ink(cx, o.originY - o.blackBoxY + 0.03f)) << "bottom stroke";
  EXPECT_TRUE(Blank(o.originX - 0.02f, cy));
  EXPECT_TRUE(Blank(cx, o.originY + 0.02f));

  glClear(GL_COLOR_BUFFER_BIT);
  glLoadIdentity();
  DrawGlyph('.');
  Read();
  Save("font_dot.png");
  const GlyphMetric& d = OutlineFont.metrics['.'];
  EXPECT_GT(d.blackBoxX, 0.05f);
  EXPECT_TRUE(Ink(d.originX + d.blackBoxX / 2, d.originY - d.blackBoxY / 2));
  EXPECT_TRUE(Blank(d.originX + d.blackBoxX / 2, d.originY + 0.05f)) << "nothing above the dot";
  EXPECT_LT(d.originY, 0.2f) << "the dot sits on the baseline";

  glClear(GL_COLOR_BUFFER_BIT);
  glLoadIdentity();
  DrawGlyph('A');
  Read();
  Save("font_A.png");
  const GlyphMetric& a = OutlineFont.metrics['A'];
  const float mid = a.originX + a.blackBoxX / 2;
  EXPECT_TRUE(Ink(mid, a.originY - 0.03f)) << "apex";
  EXPECT_TRUE(Ink(a.originX + 0.04f, 0.02f)) << "left foot";
  EXPECT_TRUE(Ink(a.originX + a.blackBoxX - 0.04f, 0.02f)) << "right foot";
  EXPECT_TRUE(Blank(mid, 0.05f)) << "between the legs";
  EXPECT_TRUE(Blank(a.originX + 0.04f, a.originY - 0.05f)) << "beside the apex";
}

// Lit from the viewer with no ambient light, a face is bright only when its
// normal points at the viewer: that checks the front and back faces and the
// walls for outward normals, and culling checks their winding.
class LitGlyphTest : public OutlineFontTest {
 protected:
  void SetUp() override {
    OutlineFontTest::SetUp();
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_NORMALIZE);
    glEnable(GL_DEPTH_TEST);
    const GLfloat black[] = {0, 0, 0, 1}, white[] = {1, 1, 1, 1}, towardsViewer[] = {0, 0, 1, 0};
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_AMBIENT, black);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_POSITION, towardsViewer);  // identity modelview: eye space
    glMaterialfv(GL_FRONT_AND_BACK, GL_AMBIENT, black);
    glMaterialfv(GL_FRONT_AND_BACK, GL_DIFFUSE, white);
  }
  void TearDown() override {
    glDisable(GL_LIGHTING);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
  }
};

TEST_F(LitGlyphTest, FrontAndBackFacesFaceOutwards) {
  const GlyphMetric& i = OutlineFont.metrics['I'];
  const float cx = i.originX + i.blackBoxX / 2, cy = i.originY - i.blackBoxY / 2;
  glEnable(GL_CULL_FACE);
  glCullFace(GL_BACK);
  DrawGlyph('I');
  Read();
  EXPECT_TRUE(Ink(cx, cy)) << "front face, counter-clockwise towards +z, normal +z";

  // Turned round about the glyph's vertical centre line: the back face shows.
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glTranslatef(cx, 0, 0);
  glRotatef(180, 0, 1, 0);
  glTranslatef(-cx, 0, 0);
  DrawGlyph('I');
  Read();
  EXPECT_TRUE(Ink(cx, cy)) << "back face, counter-clockwise towards -z, normal -z";
}

TEST_F(LitGlyphTest, WallsFaceOutwards) {
  // The I is a bar: its right wall has the normal +x. Thickened along z and
  // turned so that +x points at the viewer, the right wall is the nearest
  // surface; the left wall lies behind it at the same pixels.
  const GlyphMetric& i = OutlineFont.metrics['I'];
  const float right = i.originX + i.blackBoxX, cy = i.originY - i.blackBoxY / 2;
  const auto drawTurned = [&](float angle, float wallX) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    glRotatef(angle, 0, 1, 0);
    glTranslatef(-wallX, 0, 0);
    glScalef(1, 1, 20);  // the wall, 0.01 deep, becomes 0.2 wide on screen
    DrawGlyph('I');
  };
  struct {
    const char* wall;
    float angle, wallX, screenX;
  } walls[] = {{"right", -90, right, 0.1f}, {"left", 90, i.originX, -0.1f}};
  for (const auto& w : walls) {
    SCOPED_TRACE(w.wall);
    // Without culling the nearest wall wins the depth test: lit only when its
    // normal points out of the glyph.
    glDisable(GL_CULL_FACE);
    drawTurned(w.angle, w.wallX);
    Read();
    if (w.angle < 0) Save("font_wall.png");
    EXPECT_TRUE(Ink(w.screenX, cy)) << "outward normal";
    // With culling the near wall must survive: it winds counter-clockwise
    // seen from outside. Its depth tells it from the far wall behind it.
    glEnable(GL_CULL_FACE);
    drawTurned(w.angle, w.wallX);
    const int px = static_cast<int>((w.screenX - Left) / (Right - Left) * W);
    const int py = static_cast<int>((cy - Bottom) / (Top - Bottom) * H);  // bottom-up
    GLfloat depth = 1;
    glReadPixels(px, py, 1, 1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
    EXPECT_NEAR(depth, 0.5f, 0.002f) << "the near wall, at eye z 0, not the far one";
  }
}

TEST_F(OutlineFontTest, EveryListEndsWithItsAdvance) {
  for (int code = 0; code < 256; ++code) {
    glLoadIdentity();
    DrawGlyph(static_cast<unsigned char>(code));
    GLfloat m[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    ASSERT_EQ(m[12], OutlineFont.metrics[code].cellIncX) << code;
    ASSERT_EQ(m[13], 0.0f) << code;
  }
}

TEST_F(OutlineFontTest, CentredStringCoversTheCentreUncentredStartsAtTheOrigin) {
  const char* text = "HHH";
  const float width = TextWidth(text);
  // The origin in the middle of the view, the text at a quarter size.
  const float centre = (Left + Right) / 2, scale = 0.25f;
  glTranslatef(centre, 0, 0);
  glScalef(scale, scale, scale);
  PrintText(text, true);
  Read();
  Save("font_centred.png");
  const GlyphMetric& h = OutlineFont.metrics['H'];
  const float y = 0.3f * scale;  // half-way up the H
  // The middle H's crossbar lies on the centre column.
  EXPECT_TRUE(Ink(centre, h.originY * scale * 0.45f)) << "the middle H covers the centre";
  // Symmetric: ink reaches as far to the left as to the right.
  int leftmost = W, rightmost = -1;
  const int row = static_cast<int>((Top - y) / (Top - Bottom) * H);
  for (int x = 0; x < W; ++x) {
    if (testsupport::PixelAt(pixels, W, H, x, row).r > 128) {
      leftmost = std::min(leftmost, x);
      rightmost = std::max(rightmost, x);
    }
  }
  const int centrePx = W / 2;
  ASSERT_LT(rightmost, W - 1) << "the view holds the whole text";
  ASSERT_GT(leftmost, 0);
  EXPECT_NEAR(centrePx - leftmost, rightmost - centrePx, 3);
  GLfloat m[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  EXPECT_FLOAT_EQ(m[12], centre + width * 0.5f * scale)
      << "left by half the width, then on by the width";

  glClear(GL_COLOR_BUFFER_BIT);
  glLoadIdentity();
  PrintText("H", false);
  Read();
  EXPECT_TRUE(Blank(-0.02f, 0.3f)) << "nothing left of the origin";
  EXPECT_TRUE(Ink(h.originX + 0.03f, 0.3f));
  EXPECT_TRUE(Ink(h.originX + h.blackBoxX - 0.03f, 0.3f)) << "extends to +x";
  EXPECT_GE(h.originX, 0.0f);
}

TEST_F(OutlineFontTest, EmptyAndSpaceOnlyStrings) {
  PrintText("", true);
  GLfloat m[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  EXPECT_EQ(m[12], 0.0f);
  glLoadIdentity();
  // Spaces count: centring shifts by half their advances, and they draw nothing.
  PrintText("   ", true);
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  EXPECT_FLOAT_EQ(m[12], 1.5f * OutlineFont.metrics[' '].cellIncX);
  Read();
  EXPECT_EQ(testsupport::PixelAt(pixels, W, H, W / 2, H / 2).r, 0);
}

TEST_F(OutlineFontTest, PrintTextLeavesTheGlStateAsItFoundIt) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glDisable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glDisable(GL_DEPTH_TEST);
  glListBase(42);
  glColor4f(0.25f, 0.5f, 0.75f, 0.5f);
  PrintText("State!", true);
  PrintText("State\xE9", false);
  GLfloat colour[4];
  glGetFloatv(GL_CURRENT_COLOR, colour);
  EXPECT_EQ(colour[0], 0.25f);
  EXPECT_EQ(colour[1], 0.5f);
  EXPECT_EQ(colour[2], 0.75f);
  EXPECT_EQ(colour[3], 0.5f);
  GLint base = 0, bound = 0;
  glGetIntegerv(GL_LIST_BASE, &base);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(base, 42);
  EXPECT_EQ(bound, static_cast<GLint>(texture));
  EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  glListBase(0);
  glDisable(GL_BLEND);
  glDeleteTextures(1, &texture);
}

TEST_F(OutlineFontTest, WidthIsTheSinglePrecisionSumInTextOrder) {
  // The font's own advances are multiples of 1/2048, whose sums are exact in
  // any precision; these advances round, so a double sum, a sum in another
  // order or a sum of rounded advances each give a different width.
  const GlyphMetric savedA = OutlineFont.metrics['a'], savedB = OutlineFont.metrics['b'];
  OutlineFont.metrics['a'].cellIncX = 0.1f;
  OutlineFont.metrics['b'].cellIncX = 1000.3f;
  struct Case {
    std::string text;
  };
  const Case cases[] = {{"b" + std::string(999, 'a')}, {std::string(999, 'a') + "b"}, {std::string(1295, 'a')}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 3));
    float single = 0.0f;
    double wide = 0.0, reversed = 0.0;
    for (unsigned char ch : c.text) {
      single = single + OutlineFont.metrics[ch].cellIncX;
      wide += OutlineFont.metrics[ch].cellIncX;
    }
    for (auto it = c.text.rbegin(); it != c.text.rend(); ++it) {
      reversed = static_cast<float>(reversed + OutlineFont.metrics[static_cast<unsigned char>(*it)].cellIncX);
    }
    // The case tells the sums apart at all.
    ASSERT_NE(single, static_cast<float>(wide));
    if (c.text.front() != c.text.back()) {
      ASSERT_NE(single, static_cast<float>(reversed));
    }
    EXPECT_EQ(TextWidth(c.text.c_str()), single);
  }
  OutlineFont.metrics['a'] = savedA;
  OutlineFont.metrics['b'] = savedB;
  // Bytes are taken as unsigned: 0xE9 uses its own metrics, not a negative index.
  EXPECT_EQ(TextWidth("\xE9"), OutlineFont.metrics[0xE9].cellIncX);
}

TEST_F(OutlineFontTest, LongLineDrawsInOneCall) {
  std::string text(1295, ' ');
  for (size_t i = 0; i < text.size(); i += 3) text[i] = 'o';
  text.back() = 'I';
  const float width = TextWidth(text.c_str());
  const GlyphMetric& i = OutlineFont.metrics['I'];
  // Moved back by all advances but the last: the final I lands on the origin
  // only if every one of the 1294 lists before it ran and moved on.
  glTranslatef(-(width - i.cellIncX), 0, 0);
  PrintText(text.c_str(), false);
  GLfloat m[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  EXPECT_NEAR(m[12], i.cellIncX, 1e-3);
  Read();
  Save("font_line_end.png");
  EXPECT_TRUE(Ink(i.originX + i.blackBoxX / 2, 0.3f)) << "the last I";
  EXPECT_TRUE(Blank(i.originX + i.blackBoxX + 0.05f, 0.3f)) << "nothing after it";
}

TEST(OutlineFontFile, MissingFontLeavesEmptyListsAndSaysSo) {
  ASSERT_TRUE(testsupport::MakeGlContext(W, H));
  const GLuint base = glGenLists(256);
  FontGlyphMetrics metrics[256];
  metrics['A'].cellIncX = 5;
  OutlineFontStats stats;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(BuildOutlineFontLists("/nonexistent/NoSuchFont.ttf", base, 0.01f, metrics, &stats));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("NoSuchFont.ttf"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << "one line";
  EXPECT_EQ(metrics['A'].cellIncX, 0.0f);
  EXPECT_EQ(stats.triangles, 0);
  for (GLuint c = 0; c < 256; ++c) ASSERT_TRUE(glIsList(base + c)) << c;
  glLoadIdentity();
  glCallList(base + 'A');
  GLfloat m[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  EXPECT_EQ(m[12], 0.0f);
  glDeleteLists(base, 256);
}

TEST(OutlineFontFile, GeometryOfTheWholeFont) {
  ASSERT_TRUE(testsupport::MakeGlContext(W, H));
  const std::string file = FindFontFile("Arial", true);
  ASSERT_FALSE(file.empty());
  const GLuint base = glGenLists(256);
  FontGlyphMetrics metrics[256];
  OutlineFontStats stats;
  ASSERT_TRUE(BuildOutlineFontLists(file, base, 0.01f, metrics, &stats));
  // Every printable ASCII glyph but the space has ink; the font is not empty
  // and not absurdly fine either (a runaway flattening would show here).
  for (int c = 33; c < 127; ++c) EXPECT_GT(metrics[c].blackBoxX, 0.0f) << c;
  EXPECT_EQ(metrics[' '].blackBoxX, 0.0f);
  EXPECT_GT(stats.triangles, 10000);
  EXPECT_LT(stats.triangles, 400000);
  glDeleteLists(base, 256);
}

}  // namespace
