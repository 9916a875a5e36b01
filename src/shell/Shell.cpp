#include "shell/Shell.h"

#include <string>

#include "platform/Files.h"
#include "platform/Messages.h"
#include "shell/Capture.h"
#include "shell/Options.h"
#include "shell/PlayMode.h"
#include "shell/RenderStill.h"

namespace {

// Every mode reads its show from the one folder chosen here, before any of
// its files is opened and before any window or offscreen context exists.
bool ChooseShowFolder(const DemoOptions& options) {
  if (options.showFolder.empty()) return true;
  std::string why;
  if (!CheckShowFolder(options.showFolder, why)) {
    Say(Subsystem::Startup, "--show '%s': %s", options.showFolder.c_str(), why.c_str());
    return false;
  }
  SetShowFolder(options.showFolder);
  return true;
}

}  // namespace

int RunDemo(const DemoOptions& options) {
  if (!ChooseShowFolder(options)) return 1;
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
