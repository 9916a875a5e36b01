// The demo: one fullscreen window, music, and pictures in step with it.
#include "platform/Messages.h"
#include "platform/Process.h"
#include "shell/Options.h"
#include "shell/Shell.h"

int main(int argc, char** argv) {
  OpenMessageOutput();
  int exitCode = 0;
  const std::optional<DemoOptions> options = ReadCommandLine(argc, argv, &exitCode);
  if (!options) return CloseMessageOutput(exitCode);
  PrepareDemoProcess(argv);
  return CloseMessageOutput(RunDemo(*options));
}
