#include "shell/OffscreenShow.h"

#include <GL/gl.h>

#include <string>

#include "platform/Display.h"
#include "platform/OffscreenGl.h"
#include "render/DemoFrame.h"
#include "shell/Projection.h"
#include "shell/ShowPlayer.h"
#include "shell/StartUp.h"
#include "sync/MusicClock.h"
#include "sync/TrackSwap.h"
#include "sync/TrackText.h"
#include "sync/Tracks.h"

namespace {

FramePlan PlanAt(double row) {
  // Only the control track decides the plane and the end; the rest of the
  // values would be evaluated for nothing.
  FrameTrackValues values;
  values.control = TrackValue(ShowControlTrack(), row);
  return PlanFrame(values);
}

}  // namespace

double OffscreenFrameRow(double startRow, int64_t frame, int fps) {
  return startRow + static_cast<double>(frame) * RowsPerSecond / fps;
}

bool OpenOffscreenShow(int width, int height, Subsystem subsystem, const std::vector<TrackSource>* trackText) {
  std::string error;
  if (!OpenOffscreenGl(width, height, OffscreenSamplesWanted, error)) {
    Say(subsystem, "%s", error.c_str());
    return false;
  }
  DesktopMode mode;
  mode.width = width;
  mode.height = height;
  mode.bitsPerPixel = 32;
  SetupProjection(mode);
  SetFixedGlState();
  InitShowOffscreen(trackText == nullptr);
  // Sources the show has no track for were named when the text was compiled.
  if (trackText) SwapInTrackSources(CurrentTrackSet(), *trackText);
  return true;
}

bool CatchUpWithViewer(double row, int fps) {
  for (int64_t frame = 0;; ++frame) {
    const double frameRow = OffscreenFrameRow(0.0, frame, fps);
    if (frameRow >= row) break;
    if (PlanAt(frameRow).endsShow) return false;
  }
  const PlaneFades fades = SetViewerFadesAt(row, fps);
  // Plane A switches the depth test off for good the first time it is drawn
  // (which arms its fade), and every later frame is drawn that way.
  if (fades.a.lastStepRow >= 0.0) glDisable(GL_DEPTH_TEST);
  return true;
}

bool ShowEndsAt(double row) { return PlanAt(row).endsShow; }

bool DrawOffscreenFrame(double row) {
  const FrameTrackValues values = EvaluateFrameTracks(row);
  const FramePlan plan = PlanFrame(values);
  if (plan.endsShow) return false;
  ComposeFrame(plan, values, row);
  return true;
}
