#include "render/OutlineFont.h"

#include <cstring>
#include <vector>

#include "platform/Fonts.h"

OutlineFontState OutlineFont;

void CreateOutlineFont() {
  OutlineFont.listBase = glGenLists(256);
  FontGlyphMetrics metrics[256];
  // Bold "Arial", extruded by 0.01 em: thin slabs whose walls catch the light
  // only when the text turns.
  BuildOutlineFontLists(FindFontFile("Arial", true), OutlineFont.listBase, 0.01f, metrics,
                        nullptr);
  for (int c = 0; c < 256; ++c) {
    const FontGlyphMetrics& m = metrics[c];
    OutlineFont.metrics[c] = {m.blackBoxX, m.blackBoxY, m.originX, m.originY, m.cellIncX,
                              m.cellIncY};
  }
  // The glyph lists end with this very translation, so a skipped glyph leaves
  // the matrix exactly as its own list would have.
  OutlineFont.advanceListBase = glGenLists(256);
  for (int c = 0; c < 256; ++c) {
    glNewList(OutlineFont.advanceListBase + c, GL_COMPILE);
    glTranslatef(OutlineFont.metrics[c].cellIncX, OutlineFont.metrics[c].cellIncY, 0.0f);
    glEndList();
  }
}

namespace {

// Clip-space coordinates of text-space points under one matrix, the product
// of projection and modelview, column-major as GL keeps it.
struct ClipTransform {
  double m[16];

  static ClipTransform Current() {
    GLfloat projection[16], modelview[16];
    glGetFloatv(GL_PROJECTION_MATRIX, projection);
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    ClipTransform t;
    for (int column = 0; column < 4; ++column) {
      for (int row = 0; row < 4; ++row) {
        double sum = 0.0;
        for (int k = 0; k < 4; ++k) sum += double(projection[k * 4 + row]) * modelview[column * 4 + k];
        t.m[column * 4 + row] = sum;
      }
    }
    return t;
  }

  // True when no point of the box [x0,x1] x [y0,y1] x [z0,z1] can be inside
  // the view volume: all eight corners lie beyond one of its six planes.
  bool BoxOutside(double x0, double x1, double y0, double y1, double z0, double z1) const {
    unsigned outsideAll = 0x3F;
    for (int corner = 0; corner < 8; ++corner) {
      const double x = corner & 1 ? x1 : x0;
      const double y = corner & 2 ? y1 : y0;
      const double z = corner & 4 ? z1 : z0;
      double c[4];
      for (int row = 0; row < 4; ++row) c[row] = m[row] * x + m[4 + row] * y + m[8 + row] * z + m[12 + row];
      unsigned outside = 0;
      if (c[0] < -c[3]) outside |= 1;
      if (c[0] > c[3]) outside |= 2;
      if (c[1] < -c[3]) outside |= 4;
      if (c[1] > c[3]) outside |= 8;
      if (c[2] < -c[3]) outside |= 16;
      if (c[2] > c[3]) outside |= 32;
      outsideAll &= outside;
      if (outsideAll == 0) return false;
    }
    return true;
  }
};

// How far a glyph's box is grown before it is tested, in em: far more than
// the rounding by which GL's single-precision matrix walk along a 1300-glyph
// line strays from this double-precision one, and than the extrusion.
constexpr double BoxMargin = 0.05;

}  // namespace

float TextWidth(const char* text) {
  // Summed in text order and rounded after every addition: the long scroll
  // line is centred by exactly this value, not by a more precise one.
  float width = 0.0f;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    width += OutlineFont.metrics[*p].cellIncX;
  }
  return width;
}

void PrintVisibleText(const char* text) {
  if (OutlineFont.listBase == 0 || OutlineFont.advanceListBase == 0) {
    PrintText(text, false);
    return;
  }
  const ClipTransform clip = ClipTransform::Current();
  const size_t length = std::strlen(text);
  std::vector<GLuint> lists(length);
  double penX = 0.0, penY = 0.0;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char code = static_cast<unsigned char>(text[i]);
    const GlyphMetric& g = OutlineFont.metrics[code];
    const bool inkless = g.blackBoxX == 0.0f || g.blackBoxY == 0.0f;
    const double left = penX + g.originX, top = penY + g.originY;
    const bool hidden =
        inkless || clip.BoxOutside(left - BoxMargin, left + g.blackBoxX + BoxMargin,
                                   top - g.blackBoxY - BoxMargin, top + BoxMargin, -BoxMargin, BoxMargin);
    lists[i] = (hidden ? OutlineFont.advanceListBase : OutlineFont.listBase) + code;
    penX += g.cellIncX;
    penY += g.cellIncY;
  }
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glListBase(0);
  glCallLists(static_cast<GLsizei>(length), GL_UNSIGNED_INT, lists.data());
  glPopAttrib();
}

void PrintText(const char* text, bool centred) {
  const GLsizei length = static_cast<GLsizei>(std::strlen(text));
  if (centred) glTranslatef(-TextWidth(text) * 0.5f, 0.0f, 0.0f);
  if (OutlineFont.listBase == 0) return;  // no font yet: nothing to draw with
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glListBase(OutlineFont.listBase);
  glCallLists(length, GL_UNSIGNED_BYTE, text);
  glPopAttrib();
}
