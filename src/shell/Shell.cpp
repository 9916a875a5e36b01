#include "shell/Shell.h"

#include <GL/gl.h>

#include <csignal>

#include "platform/Audio.h"
#include "render/DemoFrame.h"
#include "shell/Projection.h"
#include "shell/StartUp.h"
#include "shell/WindowProc.h"

DesktopMode Desktop;

namespace {

volatile std::sig_atomic_t quitSignals = 0;

extern "C" void OnQuitSignal(int sig) {
  if (quitSignals != 0) {
    // The first one has not been taken up: the loop is stuck somewhere (a long
    // start-up, a hung driver). Let the default action end the process.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  quitSignals = 1;
}

// Stops the sound before the window goes, so that the audio thread never runs
// into state that is being torn down.
void StopSound() { ShutdownAudio(); }

}  // namespace

void SetFixedGlState() {
  glShadeModel(GL_SMOOTH);
  glClearDepth(1.0);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
}

void InstallQuitSignals() {
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool TakeQuitSignal() {
  if (quitSignals == 0) return false;
  quitSignals = 0;
  return true;
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

int RunDemo() {
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
  RunMessageLoop(DemoFrame);
  StopSound();
  CloseDisplay();
  return 0;
}
