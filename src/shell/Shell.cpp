#include "shell/Shell.h"

#include <GL/gl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/Audio.h"
#include "platform/Files.h"
#include "platform/Mp3Frames.h"
#include "render/DemoFrame.h"
#include "render/ImagePlanes.h"
#include "shell/EditSession.h"
#ifndef DEMO_NO_OFFSCREEN
#include "shell/Capture.h"
#include "shell/RenderStill.h"
#endif
#include "shell/Options.h"
#include "shell/Projection.h"
#include "shell/RunStats.h"
#include "shell/StartUp.h"
#include "shell/WindowProc.h"
#include "sync/MusicClock.h"
#include "sync/ShowTime.h"

DesktopMode Desktop;

namespace {

// Stops the sound before the window goes, so that the audio thread never runs
// into state that is being torn down.
void StopSound() { ShutdownAudio(); }

// The clock stops at the end of the music, so a show started past it would
// only ever show that last moment, frozen, or end at once without a word,
// and either only after the whole loading screen.
// The length comes from the frame headers, which takes milliseconds where
// decoding would take a tenth of a second; it counts the decoder's padding
// too, so it never refuses a start the music reaches. Without music to
// measure (or to play) the clock runs on and any start holds.
bool StartsBeforeMusicEnds(double fromRow) {
  std::vector<unsigned char> bytes;
  Mp3Frames music;
  std::string error;
  if (ReadDataFile(ShowMusicPath().c_str(), bytes) != FileRead::Ok ||
      !FindMp3Frames(bytes.data(), bytes.size(), music, error)) {
    return true;
  }
  if (fromRow < music.Seconds() * RowsPerSecond) return true;
  std::fprintf(stderr, "demo: startup: --from %s is past the end of the music (%s); nothing to play\n",
               FormatShowTime(fromRow / RowsPerSecond).c_str(), FormatShowTime(music.Seconds()).c_str());
  return false;
}

long ShowFramesPresented = 0;

bool CountedDemoFrame() {
  if (!DemoFrame()) return false;
  ++ShowFramesPresented;
  if (RunStatsEnabled()) NoteShowFrame();
  return true;
}

}  // namespace

double ViewerFrameRate() {
  const int rate = DisplayRefreshRate();
  return rate > 0 ? rate : 60.0;
}

void JumpPlaneFadesTo(double row) {
  const Track* control = FrameTrackHandles[FrameTrackIndex(&FrameTrackValues::control)];
  SetPlaneFades(ReplayPlaneFades(control, row, ViewerFrameRate()));
}

void SetFixedGlState() {
  glShadeModel(GL_SMOOTH);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}

bool RunMessageLoop(bool (*frame)()) {
  for (;;) {
    switch (PumpOneMessage()) {
      case PumpResult::Quit:
        return false;
      case PumpResult::Handled:
        break;
      case PumpResult::NoneWaiting:
        if (!frame()) return true;  // the show's end: that frame was not presented
        break;
    }
  }
}

int RunDemo(const DemoOptions& options) {
#ifndef DEMO_NO_OFFSCREEN
  if (options.mode == DemoMode::Render) return RenderStill(options);
  if (options.mode == DemoMode::Capture) return CaptureVideo(options);
#else
  if (options.mode == DemoMode::Render || options.mode == DemoMode::Capture) {
    std::fprintf(stderr, "demo: startup: --render and --capture are not available in this build\n");
    return 1;
  }
#endif
  if (options.fromRow && !StartsBeforeMusicEnds(*options.fromRow)) return 1;
  if (options.stats) EnableRunStats();
  const bool editing = !options.editFile.empty();
  if (editing && !CheckEditFile(options.editFile)) return 1;
  InstallQuitSignals();
  if (!OpenDisplay() || !QueryDesktopMode(&Desktop)) return 1;
  // The picture is framed for the surface it is drawn on: the desktop, or the
  // ordinary window asked for.
  DesktopMode surface = Desktop;
  if (options.window) {
    surface.width = options.window->width;
    surface.height = options.window->height;
  }
  const bool opened = options.window ? CreateOrdinaryWindow(surface.width, surface.height, 4)
                                     : CreateDemoWindow(surface.width, surface.height, 4);
  if (!opened) {
    CloseDisplay();
    return 1;
  }
  // Over the whole desktop the pointer would only be in the way; beside an
  // editor it is needed on the way to other windows.
  if (!options.window) HideCursor();
  SetupProjection(surface);
  SetFixedGlState();
  ShowStart start;
  start.fromRow = options.fromRow.value_or(0.0);
  // Edited tracks come from their text alone, never from the track files.
  start.readTrackFiles = !editing;
  if (!InitDemo(start)) {
    // Ended during the loading screen: no music was started and no frame of
    // the show drawn.
    StopSound();
    CloseDisplay();
    return 0;
  }
  if (editing) {
    BeginEditSession(options.editFile, surface.width, surface.height);
    ExtraKeyHandler = EditKey;
    RunMessageLoop(EditFrame);
  } else {
    // A show started part-way shows what someone who had watched from the
    // start would see: the planes' fades are where that viewer's frames left them.
    if (start.fromRow > 0.0) JumpPlaneFadesTo(CurrentRow());
    if (RunMessageLoop(CountedDemoFrame) && ShowFramesPresented == 0) {
      std::fprintf(stderr, "demo: the show has ended (control code 777) by %s; nothing to play\n",
                   FormatShowTime(start.fromRow / RowsPerSecond).c_str());
    }
  }
  PrintFrameStats();
  StopSound();
  CloseDisplay();
  return 0;
}
