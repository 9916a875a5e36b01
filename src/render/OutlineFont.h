// Outline font text: 256 display lists of extruded bold "Arial" glyphs (codes
// 0..255, 128..255 as Windows-1252), em square 1.0, and the routine that prints
// an 8-bit string with them.
#pragma once

#include <GL/gl.h>

struct GlyphMetric {
  float blackBoxX, blackBoxY;
  float originX, originY;
  float cellIncX, cellIncY;  // advance; cellIncX is what PrintText sums
};

struct OutlineFontState {
  GLuint listBase;           // first of the 256 glyph lists
  GLuint advanceListBase;    // first of 256 lists that only move on by a glyph's advance
  GlyphMetric metrics[256];
};

extern OutlineFontState OutlineFont;

// Builds the 256 glyph lists; called once with the GL context current.
void CreateOutlineFont();
// Draws text at the current origin; centred moves it left by half its width.
void PrintText(const char* text, bool centred);
// Draws text uncentred as PrintText does, in one glCallLists, except that a
// glyph whose box lies wholly outside the view volume is replaced by a list
// that only moves on by its advance: the same pixels and the same final
// matrix, without the vertex work of the glyphs nobody can see. Pays off for
// a long line of which only a few glyphs are ever in view.
void PrintVisibleText(const char* text);
// The width PrintText centres by: the advances summed in single precision in text order.
float TextWidth(const char* text);
