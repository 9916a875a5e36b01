#include "RenderGl.h"

#include <GL/glu.h>

#include <cstdlib>
#include <string>

#include "image/TextureTable.h"

namespace rendertest {

const Colour SlotColours[7] = {
    {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}, {0, 255, 255}, {255, 128, 0},
};

namespace {

void UploadSolid(GLuint name, Colour c) {
  const uint8_t texels[4 * 4] = {c.r, c.g, c.b, 255, c.r, c.g, c.b, 255,
                                 c.r, c.g, c.b, 255, c.r, c.g, c.b, 255};
  glBindTexture(GL_TEXTURE_2D, name);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 2, 2, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels);
}

}  // namespace

bool SetUpDemoGl() {
  static bool ready = false;
  if (ready) {
    ResetDemoGlState();
    return true;
  }
  if (!testsupport::MakeGlContext(Width, Height)) return false;
  glGenTextures(TextureSlots, TextureTable);
  for (int slot = 0; slot < 7; ++slot) UploadSolid(TextureTable[slot], SlotColours[slot]);
  ResetDemoGlState();
  ready = true;
  return true;
}

void ResetDemoGlState() {
  glViewport(0, 0, Width, Height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, static_cast<float>(Width) / Height, static_cast<double>(0.1f), 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glShadeModel(GL_SMOOTH);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  glBindTexture(GL_TEXTURE_2D, 0);
}

std::vector<uint8_t> Grab() {
  glFinish();
  return testsupport::ReadPixels(Width, Height);
}

bool Near(const testsupport::Rgba& p, Colour c, int tolerance) {
  return std::abs(p.r - c.r) <= tolerance && std::abs(p.g - c.g) <= tolerance &&
         std::abs(p.b - c.b) <= tolerance;
}

int CountNear(const std::vector<uint8_t>& pixels, Colour c, int x0, int y0, int x1, int y1,
              int tolerance) {
  int count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) {
      count += Near(testsupport::PixelAt(pixels, Width, Height, x, y), c, tolerance);
    }
  }
  return count;
}

void Keep(const std::vector<uint8_t>& pixels, const char* name) {
  const std::string path = std::string(DEMO_BINARY_DIR) + "/render-" + name + ".png";
  testsupport::WritePng(path.c_str(), pixels, Width, Height);
}

}  // namespace rendertest
