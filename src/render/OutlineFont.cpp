#include "render/OutlineFont.h"

#include <cstring>

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
}

float TextWidth(const char* text) {
  // Summed in text order and rounded after every addition: the long scroll
  // line is centred by exactly this value, not by a more precise one.
  float width = 0.0f;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    width += OutlineFont.metrics[*p].cellIncX;
  }
  return width;
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
