// Fonts service: extruded outline glyphs of a system font compiled into GL
// display lists, one list per 8-bit character code.
//
// What callers rely on:
// - Codes 0..255 are read as Windows-1252 (the font's ANSI character set).
// - The em square is 1.0; coordinates are the font's own design units scaled by
//   1/unitsPerEm, unhinted, curves flattened to within one design unit.
// - Each list draws its glyph at the current origin as filled polygons: the
//   front face at z = 0 facing +z, the back face at z = -extrusion facing -z
//   and side walls along every contour with outward normals; then it moves the
//   origin on by the glyph's advance with a glTranslatef. Nothing else of the
//   GL state is changed by a list.
// - When the font cannot be found or read, every list is still compiled (it
//   then only draws nothing), the metrics stay zero, one line goes to stderr
//   and the call returns false.
#pragma once

#include <GL/gl.h>

#include <string>

struct FontGlyphMetrics {
  float blackBoxX = 0, blackBoxY = 0;  // size of the glyph's bounding box
  float originX = 0, originY = 0;      // upper-left corner of that box
  float cellIncX = 0, cellIncY = 0;    // advance to the next glyph's origin
};

struct OutlineFontStats {
  long triangles = 0;  // front, back and wall triangles of all 256 glyphs
  long vertices = 0;   // flattened contour points of all 256 glyphs
};

// The font file that the system's font configuration picks for that family
// and weight, or "" (with a line on stderr) when it picks none.
std::string FindFontFile(const char* family, bool bold);

// The Unicode code point of a Windows-1252 byte; 0 for the five bytes that
// have no character there.
unsigned Cp1252ToUnicode(unsigned char code);

// Compiles lists listBase + 0 .. listBase + 255 from the font file and fills
// metrics[0..255]. stats (may be null) receives the geometry counts.
bool BuildOutlineFontLists(const std::string& fontFile, GLuint listBase, float extrusion,
                           FontGlyphMetrics metrics[256], OutlineFontStats* stats);
