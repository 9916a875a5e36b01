#include "render/ImagePlanes.h"

#include <GL/gl.h>

#include "image/TextureTable.h"
#include "render/FramePlan.h"
#include "render/TexturedQuad.h"

namespace {

PlaneFades Fades;

void DrawPlane(PlaneRoutine routine, FadeState& fade, int32_t slot, int32_t fadeOut, double row) {
  StepFade(fade, fadeOut, row);

  const PlaneLayout& layout = LayoutOf(routine);
  if (layout.enablesTexturing) glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, TextureNameForSlot(TextureTable, TextureSlots, slot));
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -1.0f);
  glColor3f(1.0f, 1.0f, 1.0f);
  // Plane A's mosaic tiles cut through each other at 45 degrees; without depth
  // testing they layer in drawing order. Nothing turns the test back on.
  if (layout.disablesDepthTest) glDisable(GL_DEPTH_TEST);

  // A factor of 0 collapses every tile to zero width and height, but not to
  // zero depth: plane A's tiles are turned before they are scaled, so each
  // would become a sliver along z whose rounding lets the rasterizer light a
  // few stray pixels. Nothing is meant to show, so nothing is drawn.
  const double factor = fade.factor;
  if (factor == 0.0) return;
  const PlaneCallValues call = ComputePlaneCallValues(routine, row);
  for (int32_t gridRow = 0; gridRow < layout.gridRows; ++gridRow) {
    const double i = gridRow;
    const float ty = TileRowY(layout, i);
    for (int32_t column = 0; column < PlaneColumns; ++column) {
      const double j = column;
      const TileScale scale = TileScaleAt(layout, call, i, j, factor);
      glPushMatrix();
      glTranslatef(TileColumnX(layout, call, j), ty, call.depth);
      glScalef(scale.x, scale.y, 1.0f);
      if (layout.tiltsWithMusic) {
        glRotatef(call.tiltX, 1.0f, 0.0f, 0.0f);
        glRotatef(call.turnZ, 0.0f, 0.0f, 1.0f);
      } else {
        glRotatef(45.0f, 1.0f, 1.0f, 1.0f);
      }
      DrawTexturedQuad();
      glPopMatrix();
    }
  }
}

}  // namespace

void DrawImagePlaneA(int32_t slot, int32_t fadeOut, double row) {
  DrawPlane(PlaneRoutine::A, Fades.a, slot, fadeOut, row);
}

void DrawImagePlaneB(int32_t slot, int32_t fadeOut, double row) {
  DrawPlane(PlaneRoutine::B, Fades.b, slot, fadeOut, row);
}

void DrawImagePlaneC(int32_t slot, int32_t fadeOut, double row) {
  DrawPlane(PlaneRoutine::C, Fades.c, slot, fadeOut, row);
}

PlaneFades CurrentPlaneFades() { return Fades; }

void SetPlaneFades(const PlaneFades& fades) { Fades = fades; }
