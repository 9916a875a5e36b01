#include "shell/Shell.h"

#include "shell/Capture.h"
#include "shell/Options.h"
#include "shell/PlayMode.h"
#include "shell/RenderStill.h"

int RunDemo(const DemoOptions& options) {
  switch (options.mode) {
    case DemoMode::Render:
      return RenderStill(options);
    case DemoMode::Capture:
      return CaptureVideo(options);
    case DemoMode::Play:
    case DemoMode::Help:  // answered with the command line, never run
      break;
  }
  return PlayShow(options);
}
