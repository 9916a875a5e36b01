#include "shell/ShowPlayer.h"

#include <GL/gl.h>

#include <vector>

#include "platform/Display.h"
#include "platform/Files.h"
#include "platform/Mp3Frames.h"
#include "show/ShowTable.h"
#include "render/ImagePlanes.h"
#include "sync/MusicClock.h"
#include "sync/ShowTime.h"

void SetFixedGlState() {
  glShadeModel(GL_SMOOTH);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}

const Track* ShowControlTrack() { return FrameTrackHandles[FrameTrackIndex(&FrameTrackValues::control)]; }

double ViewerFrameRate() {
  const int rate = DisplayRefreshRate();
  return rate > 0 ? rate : 60.0;
}

PlaneFades SetViewerFadesAt(double row, double framesPerSecond) {
  const PlaneFades fades = ReplayPlaneFades(ShowControlTrack(), row, framesPerSecond);
  SetPlaneFades(fades);
  return fades;
}

void JumpPlaneFadesTo(double row) { SetViewerFadesAt(row, ViewerFrameRate()); }

std::optional<double> MusicEndRow() {
  std::vector<unsigned char> bytes;
  Mp3Frames music;
  std::string error;
  if (ReadDataFile(ShowMusicPath().c_str(), bytes) != FileRead::Ok ||
      !FindMp3Frames(bytes.data(), bytes.size(), music, error)) {
    return std::nullopt;
  }
  return music.Seconds() * RowsPerSecond;
}

std::string RowAsTime(double row) { return FormatShowTime(row / RowsPerSecond); }

std::string PastMusicEnd(double row, double endRow) {
  return RowAsTime(row) + " is past the end of the music (" + RowAsTime(endRow) + ")";
}
