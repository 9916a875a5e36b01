// Fonts service on fontconfig, FreeType and the GLU tessellator.
//
// How: fontconfig picks the font file for a family and weight (for "Arial" it
// normally finds Liberation Sans or Arimo, whose advances are Arial's). FreeType
// reads each glyph's outline unscaled and unhinted, in design units; curves are
// flattened to polylines within one design unit of the true curve; the GLU
// tessellator fills the contours under the font's fill rule (non-zero for
// TrueType, even-odd where the outline says so); the triangles and the side
// walls go into one display list per code.
//
// What it cannot do:
// - Only outline fonts (TrueType, CFF); a bitmap-only face yields no glyphs.
// - Glyphs come from the face's Unicode character map; a code without a glyph
//   there draws the face's .notdef glyph, as the font itself would.
// - Kerning and hinting are not applied: each glyph advances by its design
//   advance alone.
#include "platform/Fonts.h"

#include <GL/glu.h>
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_BBOX_H

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <initializer_list>
#include <vector>

#include "platform/Messages.h"

namespace {

// Flattening tolerance in design units: the largest distance allowed between
// a curve and the polyline that replaces it.
constexpr double kTolerance = 1.0;

struct Point {
  double x, y;
};
using Contour = std::vector<Point>;

struct OutlineWalker {
  std::vector<Contour> contours;
  Point pen{0, 0};

  void Add(Point p) {
    Contour& c = contours.back();
    if (c.empty() || c.back().x != p.x || c.back().y != p.y) c.push_back(p);
  }
};

Point ToPoint(const FT_Vector* v) { return {static_cast<double>(v->x), static_cast<double>(v->y)}; }

// Segments needed so that a Bezier curve with second-difference magnitude m
// stays within the tolerance: the chord error of n uniform pieces is at most
// m * k / n^2, with k = 1/4 for quadratics (m = |P0 - 2P1 + P2|) and k = 3/4 for
// cubics (m = the larger of the two second differences).
int SegmentsFor(double m, double k) {
  const double n = std::ceil(std::sqrt(m * k / kTolerance));
  if (!(n >= 1)) return 1;
  return n > 1000 ? 1000 : static_cast<int>(n);
}

int MoveTo(const FT_Vector* to, void* user) {
  auto* w = static_cast<OutlineWalker*>(user);
  w->contours.emplace_back();
  w->pen = ToPoint(to);
  w->Add(w->pen);
  return 0;
}

int LineTo(const FT_Vector* to, void* user) {
  auto* w = static_cast<OutlineWalker*>(user);
  w->pen = ToPoint(to);
  w->Add(w->pen);
  return 0;
}

int ConicTo(const FT_Vector* control, const FT_Vector* to, void* user) {
  auto* w = static_cast<OutlineWalker*>(user);
  const Point p0 = w->pen, p1 = ToPoint(control), p2 = ToPoint(to);
  const double m = std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y);
  const int n = SegmentsFor(m, 0.25);
  for (int i = 1; i <= n; ++i) {
    const double t = static_cast<double>(i) / n, u = 1 - t;
    w->Add({u * u * p0.x + 2 * u * t * p1.x + t * t * p2.x,
            u * u * p0.y + 2 * u * t * p1.y + t * t * p2.y});
  }
  w->pen = p2;
  return 0;
}

int CubicTo(const FT_Vector* c1, const FT_Vector* c2, const FT_Vector* to, void* user) {
  auto* w = static_cast<OutlineWalker*>(user);
  const Point p0 = w->pen, p1 = ToPoint(c1), p2 = ToPoint(c2), p3 = ToPoint(to);
  const double m = std::max(std::hypot(p0.x - 2 * p1.x + p2.x, p0.y - 2 * p1.y + p2.y),
                            std::hypot(p1.x - 2 * p2.x + p3.x, p1.y - 2 * p2.y + p3.y));
  const int n = SegmentsFor(m, 0.75);
  for (int i = 1; i <= n; ++i) {
    const double t = static_cast<double>(i) / n, u = 1 - t;
    const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
    w->Add({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
  }
  w->pen = p3;
  return 0;
}

// What the tessellator hands back: triangles over vertices whose addresses
// stay put (a deque never moves its elements when it grows at the end).
struct TessOutput {
  std::deque<std::array<double, 3>> vertices;
  std::vector<const double*> triangleCorners;
  bool failed = false;
};

void GLAPIENTRY TessBegin(GLenum, void*) {}
void GLAPIENTRY TessEdgeFlag(GLboolean, void*) {}  // its presence forces plain triangles
void GLAPIENTRY TessEnd(void*) {}

void GLAPIENTRY TessVertex(void* vertex, void* data) {
  static_cast<TessOutput*>(data)->triangleCorners.push_back(static_cast<const double*>(vertex));
}

void GLAPIENTRY TessCombine(GLdouble coords[3], void*[4], GLfloat[4], void** out, void* data) {
  auto* o = static_cast<TessOutput*>(data);
  o->vertices.push_back({coords[0], coords[1], coords[2]});
  *out = o->vertices.back().data();
}

void GLAPIENTRY TessError(GLenum, void* data) { static_cast<TessOutput*>(data)->failed = true; }

template <typename F>
_GLUfuncptr Callback(F* f) {
  return reinterpret_cast<_GLUfuncptr>(f);
}

struct GlyphGeometry {
  std::vector<Contour> contours;
  std::vector<Point> triangles;  // three corners each, counter-clockwise seen from +z
  bool fillOnRight = true;       // which side of a contour's direction is ink
};

void Tessellate(GLUtesselator* tess, GlyphGeometry* glyph, bool evenOdd) {
  TessOutput out;
  gluTessProperty(tess, GLU_TESS_WINDING_RULE,
                  evenOdd ? GLU_TESS_WINDING_ODD : GLU_TESS_WINDING_NONZERO);
  gluTessBeginPolygon(tess, &out);
  for (const Contour& c : glyph->contours) {
    gluTessBeginContour(tess);
    for (const Point& p : c) {
      out.vertices.push_back({p.x, p.y, 0.0});
      gluTessVertex(tess, out.vertices.back().data(), out.vertices.back().data());
    }
    gluTessEndContour(tess);
  }
  gluTessEndPolygon(tess);
  if (out.failed) return;
  const auto& t = out.triangleCorners;
  for (size_t i = 0; i + 2 < t.size(); i += 3) {
    Point a{t[i][0], t[i][1]}, b{t[i + 1][0], t[i + 1][1]}, c{t[i + 2][0], t[i + 2][1]};
    const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
    if (area == 0) continue;
    if (area < 0) std::swap(b, c);
    glyph->triangles.insert(glyph->triangles.end(), {a, b, c});
  }
}

// Compiles one glyph's list; coordinates are scaled from design units by scale.
long EmitGlyph(const GlyphGeometry& g, double scale, float extrusion, float advance) {
  long triangles = 0;
  const float back = -extrusion;
  if (!g.triangles.empty()) {
    glBegin(GL_TRIANGLES);
    glNormal3f(0, 0, 1);
    for (const Point& p : g.triangles)
      glVertex3f(static_cast<float>(p.x * scale), static_cast<float>(p.y * scale), 0.0f);
    // The back face is the front seen from behind: same triangles, turned round.
    glNormal3f(0, 0, -1);
    for (size_t i = 0; i < g.triangles.size(); i += 3) {
      for (size_t k : {i, i + 2, i + 1}) {
        const Point& p = g.triangles[k];
        glVertex3f(static_cast<float>(p.x * scale), static_cast<float>(p.y * scale), back);
      }
    }
    glEnd();
    triangles += static_cast<long>(g.triangles.size() / 3) * 2;
  }
  bool walls = false;
  for (const Contour& c : g.contours) {
    if (c.size() < 2) continue;
    if (!walls) glBegin(GL_QUADS);
    walls = true;
    for (size_t i = 0; i < c.size(); ++i) {
      const Point& p = c[i];
      const Point& q = c[(i + 1) % c.size()];
      double nx = -(q.y - p.y), ny = q.x - p.x;  // left of the direction p -> q
      if (g.fillOnRight == false) nx = -nx, ny = -ny;
      const double len = std::hypot(nx, ny);
      if (len == 0) continue;
      glNormal3f(static_cast<float>(nx / len), static_cast<float>(ny / len), 0.0f);
      const float px = static_cast<float>(p.x * scale), py = static_cast<float>(p.y * scale);
      const float qx = static_cast<float>(q.x * scale), qy = static_cast<float>(q.y * scale);
      // Counter-clockwise seen from outside: the order depends on which side is out.
      if (g.fillOnRight) {
        glVertex3f(px, py, 0.0f), glVertex3f(qx, qy, 0.0f);
        glVertex3f(qx, qy, back), glVertex3f(px, py, back);
      } else {
        glVertex3f(px, py, 0.0f), glVertex3f(px, py, back);
        glVertex3f(qx, qy, back), glVertex3f(qx, qy, 0.0f);
      }
      triangles += 2;
    }
  }
  if (walls) glEnd();
  glTranslatef(advance, 0.0f, 0.0f);
  return triangles;
}

void CompileEmptyLists(GLuint listBase) {
  for (GLuint c = 0; c < 256; ++c) {
    glNewList(listBase + c, GL_COMPILE);
    glEndList();
  }
}

bool IsArialMetricFamily(const char* family) {
  for (const char* name : {"Arial", "Liberation Sans", "Arimo", "Albany AMT"}) {
    if (std::strcmp(family, name) == 0) return true;
  }
  return false;
}

}  // namespace

std::string FindFontFile(const char* family, bool bold) {
  std::string file;
  if (!FcInit()) {
    Say(Subsystem::Fonts, "fontconfig cannot be initialised; no font for \"%s\"", family);
    return file;
  }
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
  FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  FcChar8* path = nullptr;
  if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path) {
    file = reinterpret_cast<const char*>(path);
    FcChar8* found = nullptr;
    if (std::strcmp(family, "Arial") == 0 &&
        FcPatternGetString(match, FC_FAMILY, 0, &found) == FcResultMatch &&
        !IsArialMetricFamily(reinterpret_cast<const char*>(found))) {
      Say(Subsystem::Fonts, "\"Arial\" resolved to \"%s\"; text widths will differ",
          reinterpret_cast<const char*>(found));
    }
  } else {
    Say(Subsystem::Fonts, "no font found for \"%s\"; text will not be drawn", family);
  }
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return file;
}

bool BuildOutlineFontLists(const std::string& fontFile, GLuint listBase, float extrusion,
                           FontGlyphMetrics metrics[256], OutlineFontStats* stats) {
  for (int c = 0; c < 256; ++c) metrics[c] = FontGlyphMetrics{};
  if (stats) *stats = OutlineFontStats{};
  if (listBase == 0) {
    Say(Subsystem::Fonts, "no display lists for the font");
    return false;
  }
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (fontFile.empty() || FT_Init_FreeType(&library) != 0 ||
      FT_New_Face(library, fontFile.c_str(), 0, &face) != 0 || !FT_IS_SCALABLE(face) ||
      face->units_per_EM == 0) {
    if (!fontFile.empty())
      Say(Subsystem::Fonts, "cannot read outline font %s; text will not be drawn",
          fontFile.c_str());
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
    CompileEmptyLists(listBase);
    return false;
  }
  FT_Select_Charmap(face, FT_ENCODING_UNICODE);
  const double scale = 1.0 / face->units_per_EM;

  FT_Outline_Funcs funcs{};
  funcs.move_to = MoveTo;
  funcs.line_to = LineTo;
  funcs.conic_to = ConicTo;
  funcs.cubic_to = CubicTo;

  GLUtesselator* tess = gluNewTess();
  gluTessNormal(tess, 0, 0, 1);
  gluTessCallback(tess, GLU_TESS_BEGIN_DATA, Callback(TessBegin));
  gluTessCallback(tess, GLU_TESS_EDGE_FLAG_DATA, Callback(TessEdgeFlag));
  gluTessCallback(tess, GLU_TESS_VERTEX_DATA, Callback(TessVertex));
  gluTessCallback(tess, GLU_TESS_END_DATA, Callback(TessEnd));
  gluTessCallback(tess, GLU_TESS_COMBINE_DATA, Callback(TessCombine));
  gluTessCallback(tess, GLU_TESS_ERROR_DATA, Callback(TessError));

  for (int code = 0; code < 256; ++code) {
    const unsigned unicode = Cp1252ToUnicode(static_cast<unsigned char>(code));
    const FT_UInt index = FT_Get_Char_Index(face, unicode);
    GlyphGeometry glyph;
    float advance = 0;
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_SCALE | FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) == 0) {
      FT_GlyphSlot slot = face->glyph;
      advance = static_cast<float>(slot->advance.x * scale);
      FontGlyphMetrics& m = metrics[code];
      m.cellIncX = advance;
      if (slot->format == FT_GLYPH_FORMAT_OUTLINE && slot->outline.n_points > 0) {
        FT_Outline* outline = &slot->outline;
        OutlineWalker walker;
        FT_Outline_Decompose(outline, &funcs, &walker);
        for (Contour& c : walker.contours) {
          // The walk closes each contour by returning to its first point.
          if (c.size() > 1 && c.back().x == c.front().x && c.back().y == c.front().y) c.pop_back();
          if (c.size() >= 3) glyph.contours.push_back(std::move(c));
        }
        glyph.fillOnRight = FT_Outline_Get_Orientation(outline) != FT_ORIENTATION_POSTSCRIPT;
        Tessellate(tess, &glyph, (outline->flags & FT_OUTLINE_EVEN_ODD_FILL) != 0);
        FT_BBox box;
        FT_Outline_Get_BBox(outline, &box);
        m.blackBoxX = static_cast<float>((box.xMax - box.xMin) * scale);
        m.blackBoxY = static_cast<float>((box.yMax - box.yMin) * scale);
        m.originX = static_cast<float>(box.xMin * scale);
        m.originY = static_cast<float>(box.yMax * scale);
        if (stats) {
          for (const Contour& c : glyph.contours) stats->vertices += static_cast<long>(c.size());
        }
      }
    }
    glNewList(listBase + code, GL_COMPILE);
    const long triangles = EmitGlyph(glyph, scale, extrusion, advance);
    glEndList();
    if (stats) stats->triangles += triangles;
  }
  gluDeleteTess(tess);
  FT_Done_Face(face);
  FT_Done_FreeType(library);
  return true;
}
