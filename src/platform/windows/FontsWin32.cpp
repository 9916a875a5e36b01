// Fonts service on GDI and WGL.
//
// How: GDI finds the font by its face name (so the "file" FindFontFile hands
// over is that name); CreateFontA makes the bold face in the ANSI character
// set, which is Windows-1252, and wglUseFontOutlinesA turns it, selected into
// the screen's device context, into 256 display lists of filled, extruded
// glyph polygons plus the glyph metrics, in units of the em square. The font
// and the device context are let go once the lists exist: the lists keep
// everything they need.
//
// What it cannot do:
// - The geometry counts of OutlineFontStats are not known: the system builds
//   the lists without saying how; they stay zero.
// - The system decides the flattening of curves (deviation 0: its finest).
#include <windows.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstring>

#include "platform/Fonts.h"
#include "platform/Messages.h"

namespace {

// The height only chooses which of the face's sizes GDI reads the outlines
// at; wglUseFontOutlinesA scales them to the em square either way.
constexpr int kFontHeight = -12;

// Every list compiled, drawing nothing: callers may call any code's list.
void CompileEmptyLists(GLuint listBase) {
  for (GLuint c = 0; c < 256; ++c) {
    glNewList(listBase + c, GL_COMPILE);
    glEndList();
  }
}

// Each glyph's advance in em units as the face designs it: read at the size
// of the face's em square, where its design units are whole pixels and no
// rounding can creep in. False when the face is no outline font.
bool DesignAdvances(HDC dc, HFONT font, float advances[256]) {
  OUTLINETEXTMETRICA outline{};
  outline.otmSize = sizeof outline;
  LOGFONTA face{};
  if (GetOutlineTextMetricsA(dc, sizeof outline, &outline) == 0 || outline.otmEMSquare == 0 ||
      GetObjectA(font, sizeof face, &face) == 0) {
    return false;
  }
  face.lfHeight = -static_cast<LONG>(outline.otmEMSquare);
  HFONT atEm = CreateFontIndirectA(&face);
  if (!atEm) return false;
  HGDIOBJ previous = SelectObject(dc, atEm);
  INT widths[256] = {};
  const bool read = GetCharWidth32A(dc, 0, 255, widths) != FALSE;
  SelectObject(dc, previous);
  DeleteObject(atEm);
  for (int c = 0; read && c < 256; ++c) advances[c] = static_cast<float>(widths[c]) / outline.otmEMSquare;
  return read;
}

}  // namespace

std::string FindFontFile(const char* family, bool) {
  if (!family || !*family) {
    Say(Subsystem::Fonts, "no font family given; text will not be drawn");
    return "";
  }
  return family;
}

bool BuildOutlineFontLists(const std::string& fontFile, GLuint listBase, float extrusion,
                           FontGlyphMetrics metrics[256], OutlineFontStats* stats) {
  for (int c = 0; c < 256; ++c) metrics[c] = FontGlyphMetrics{};
  if (stats) *stats = OutlineFontStats{};
  if (listBase == 0) {
    Say(Subsystem::Fonts, "no display lists for the font");
    return false;
  }
  HFONT font = fontFile.empty()
                   ? nullptr
                   : CreateFontA(kFontHeight, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, ANSI_CHARSET,
                                 OUT_TT_PRECIS, CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY,
                                 DEFAULT_PITCH | FF_DONTCARE, fontFile.c_str());
  if (!font) {
    if (!fontFile.empty())
      Say(Subsystem::Fonts, "cannot create font \"%s\"; text will not be drawn",
          fontFile.c_str());
    CompileEmptyLists(listBase);
    return false;
  }
  HDC screen = GetDC(nullptr);
  HGDIOBJ previous = SelectObject(screen, font);
  // GDI substitutes a face it has for one it lacks; the text then still
  // draws, only with other widths.
  char face[LF_FACESIZE] = {};
  if (GetTextFaceA(screen, sizeof face, face) > 0 && _stricmp(face, fontFile.c_str()) != 0) {
    Say(Subsystem::Fonts, "\"%s\" resolved to \"%s\"; text widths will differ",
        fontFile.c_str(), face);
  }
  GLYPHMETRICSFLOAT glyphs[256] = {};
  // The system's lists go into a block of their own, called from listBase's
  // with a correction of their advance: some systems round it (Wine to 1/1024
  // em), which over the scroll's thousands of letters moves the line by
  // many pixels against the face's design, which the other platform follows.
  const GLuint outlines = glGenLists(256);
  const bool built = outlines != 0 && wglUseFontOutlinesA(screen, 0, 256, outlines, 0.0f, extrusion,
                                                          WGL_FONT_POLYGONS, glyphs);
  float advances[256];
  const bool designed = built && DesignAdvances(screen, font, advances);
  SelectObject(screen, previous);
  ReleaseDC(nullptr, screen);
  DeleteObject(font);
  if (!built) {
    Say(Subsystem::Fonts, "no outlines for \"%s\" (error %lu); text will not be drawn",
        fontFile.c_str(), GetLastError());
    if (outlines != 0) glDeleteLists(outlines, 256);
    CompileEmptyLists(listBase);
    return false;
  }
  for (int c = 0; c < 256; ++c) {
    GLYPHMETRICSFLOAT& g = glyphs[c];
    const float correction = designed ? advances[c] - g.gmfCellIncX : 0.0f;
    g.gmfCellIncX += correction;
    glNewList(listBase + c, GL_COMPILE);
    glCallList(outlines + c);
    glTranslatef(correction, 0.0f, 0.0f);
    glEndList();
    metrics[c] = {g.gmfBlackBoxX,        g.gmfBlackBoxY, g.gmfptGlyphOrigin.x,
                  g.gmfptGlyphOrigin.y, g.gmfCellIncX,  g.gmfCellIncY};
  }
  return true;
}
