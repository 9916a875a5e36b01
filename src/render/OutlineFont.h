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
  GlyphMetric metrics[256];
};

extern OutlineFontState OutlineFont;

// Builds the 256 glyph lists; called once with the GL context current.
void CreateOutlineFont();
// Draws text at the current origin; centred moves it left by half its width.
void PrintText(const char* text, bool centred);
// The width PrintText centres by: the advances summed in single precision in text order.
float TextWidth(const char* text);
