#include "shell/Shell.h"

#include <GL/gl.h>

#include <cstdio>

#include "platform/Audio.h"
#include "render/DemoFrame.h"
#include "shell/Options.h"
#include "shell/Projection.h"
#include "shell/RunStats.h"
#include "shell/StartUp.h"
#include "shell/WindowProc.h"

DesktopMode Desktop;

namespace {

// Stops the sound before the window goes, so that the audio thread never runs
// into state that is being torn down.
void StopSound() { ShutdownAudio(); }

bool TimedDemoFrame() {
  if (!DemoFrame()) return false;
  NoteShowFrame();
  return true;
}

}  // namespace

void SetFixedGlState() {
  glShadeModel(GL_SMOOTH);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}

void RunMessageLoop(bool (*frame)()) {
  DisplayMessage msg;  // kind Other: the loop is entered
  while (msg.kind != MessageKind::Quit) {
    if (TakeQuitSignal()) PostQuit();
    if (PeekDisplayMessage(&msg)) {
      WindowProc(msg);
    } else if (!frame()) {
      return;  // the show's end: that frame was not presented
    }
  }
}

int RunDemo(const DemoOptions& options) {
  if (options.mode == DemoMode::Render || options.mode == DemoMode::Capture) {
    std::fprintf(stderr, "demo: render: offscreen rendering is not part of this build yet\n");
    return 1;
  }
  if (options.stats) EnableRunStats();
  InstallQuitSignals();
  if (!OpenDisplay() || !QueryDesktopMode(&Desktop)) return 1;
  if (!CreateDemoWindow(Desktop.width, Desktop.height, 4)) {
    CloseDisplay();
    return 1;
  }
  HideCursor();
  SetupProjection(Desktop);
  SetFixedGlState();
  InitDemo();
  RunMessageLoop(options.stats ? TimedDemoFrame : DemoFrame);
  PrintFrameStats();
  StopSound();
  CloseDisplay();
  return 0;
}
