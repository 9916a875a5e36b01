#include "render/DemoFrame.h"

#include <GL/gl.h>

#include "image/TextureTable.h"
#include "platform/Display.h"
#include "render/ImagePlanes.h"
#include "render/OutlineFont.h"
#include "render/ScrollText.h"
#include "render/TexturedQuad.h"
#include "sync/MusicClock.h"
#include "sync/Tracks.h"

namespace {

float ValueAt(const Track* track, double row) { return track ? TrackValue(track, row) : 0.0f; }

void DrawPlaneOf(const PlaneChoice& plane, double row) {
  switch (plane.routine) {
    case PlaneRoutine::A: DrawImagePlaneA(plane.slot, plane.fadeOut, row); break;
    case PlaneRoutine::B: DrawImagePlaneB(plane.slot, plane.fadeOut, row); break;
    case PlaneRoutine::C: DrawImagePlaneC(plane.slot, plane.fadeOut, row); break;
    case PlaneRoutine::None: break;
  }
}

// A 2 x 2 quad at depth -4, scaled first, then turned about z, y and x, then
// moved: the calls multiply on the right, so they read in the opposite order.
void DrawBackdrop(int32_t slot, const FrameTrackValues& v) {
  glLoadIdentity();
  glTranslatef(v.backX, v.backY, -4.0f);
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, TextureNameForSlot(TextureTable, TextureSlots, slot));
  glColor3f(v.backR, v.backG, v.backB);
  glPushMatrix();
  const float scale = BackdropScale(v.backScale);
  glRotatef(v.backRotX, 1.0f, 0.0f, 0.0f);
  glRotatef(v.backRotY, 0.0f, 1.0f, 0.0f);
  glRotatef(v.backRotZ, 0.0f, 0.0f, 1.0f);
  glScalef(scale, scale, 1.0f);
  DrawTexturedQuad();
  glPopMatrix();
}

// One text unit is a tenth of a GL unit at depth 1; the line starts 7.4 units
// right of the axis, just past the right edge, and the horizontal scroll pulls it left.
void DrawScrollText(const FrameTrackValues& v) {
  glColor3f(1.0f, 1.0f, 1.0f);
  glDisable(GL_TEXTURE_2D);
  glLoadIdentity();
  glTranslatef(0.0f, 0.0f, -1.0f);
  glScalef(0.1f, 0.1f, 0.1f);
  const ScrollOffset offset = ScrollTextOffset(v.scrollX, v.scrollY);
  glTranslatef(offset.x, offset.y, 0.0f);
  glRotatef(v.scrollR, 1.0f, 0.0f, 0.0f);
  // Of the 1295 glyphs only a few dozen are ever in view: the others only
  // move the origin on.
  PrintVisibleText(ScrollText);
}

}  // namespace

FrameTrackValues EvaluateFrameTracks(double row) {
  FrameTrackValues v;
  for (std::size_t i = 0; i < FrameTrackCount; ++i) v.*FrameTracks[i].field = ValueAt(FrameTrackHandles[i], row);
  return v;
}

void ComposeFrame(const FramePlan& plan, const FrameTrackValues& values, double row) {
  glClearColor(0.0f, 0.2f, 0.5f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  glEnable(GL_TEXTURE_2D);
  DrawPlaneOf(plan.plane, row);
  // The backdrop and the text lie over the plane whatever their depths.
  glClear(GL_DEPTH_BUFFER_BIT);
  DrawBackdrop(plan.backdropSlot, values);
  DrawScrollText(values);
}

bool DemoFrame() {
  const double row = CurrentRow();
  const FrameTrackValues values = EvaluateFrameTracks(row);
  const FramePlan plan = PlanFrame(values);
  if (plan.endsShow) {
    // The ending frame is never drawn or presented: the previous picture stays
    // up while the loop retrieves the quit and the process exits with 0.
    PostQuit();
    return false;
  }
  ComposeFrame(plan, values, row);
  SwapDemoWindow();
  return true;
}
