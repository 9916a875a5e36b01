#include "shell/PlayMode.h"

#include <optional>

#include "platform/Audio.h"
#include "platform/Display.h"
#include "platform/Messages.h"
#include "render/DemoFrame.h"
#include "shell/EditSession.h"
#include "shell/Options.h"
#include "shell/Projection.h"
#include "shell/RunStats.h"
#include "shell/ShowPlayer.h"
#include "shell/StartUp.h"
#include "shell/WindowProc.h"
#include "sync/MusicClock.h"

namespace {

// Stops the sound before the window goes, so that the audio thread never runs
// into state that is being torn down.
void StopSound() { ShutdownAudio(); }

// The clock stops at the end of the music, so a show started past it would
// only ever show that last moment, frozen, or end at once without a word,
// and either only after the whole loading screen. Without music to measure
// (or to play) the clock runs on and any start holds.
bool StartsBeforeMusicEnds(double fromRow) {
  const std::optional<double> musicEnd = MusicEndRow();
  if (!musicEnd || fromRow < *musicEnd) return true;
  Say(Subsystem::Startup, "--from %s; nothing to play", PastMusicEnd(fromRow, *musicEnd).c_str());
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

int PlayShow(const DemoOptions& options) {
  if (options.fromRow && !StartsBeforeMusicEnds(*options.fromRow)) return 1;
  if (options.stats) EnableRunStats();
  const bool editing = !options.editFile.empty();
  if (editing && !CheckEditFile(options.editFile)) return 1;
  // The studio listens from before the window, so that a port that cannot
  // be had costs no loading; it closes on every way out of here.
  if (editing && !OpenStudio(options.editFile, {options.studioPort, options.openStudio})) return 1;
  struct StudioCloser {
    ~StudioCloser() { CloseStudio(); }
  } studioCloser;
  InstallQuitSignals();
  // The picture is framed for the surface it is drawn on: the desktop, or the
  // ordinary window asked for.
  DesktopMode surface;
  if (!OpenDisplay() || !QueryDesktopMode(&surface)) return 1;
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
      Say(Subsystem::Show, "the show has ended (control code 777) by %s; nothing to play",
          RowAsTime(start.fromRow).c_str());
    }
  }
  PrintFrameStats();
  StopSound();
  CloseDisplay();
  return 0;
}
