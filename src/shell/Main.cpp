// The demo: one fullscreen window, music, and pictures in step with it.
#include "platform/CommandLine.h"
#include "platform/Messages.h"
#include "platform/Process.h"
#include "shell/Options.h"
#include "shell/Shell.h"

int main(int argc, char** argv) {
  OpenMessageOutput();
  // UTF-8 from here on, whatever the system's code page: a show in a folder
  // named in any script opens, and stderr names it as it is spelt.
  Utf8Arguments arguments(argc, argv);
  int exitCode = 0;
  const std::optional<DemoOptions> options = ReadCommandLine(arguments.Count(), arguments.Values(), &exitCode);
  if (!options) return CloseMessageOutput(exitCode);
  PrepareDemoProcess(argv);
  return CloseMessageOutput(RunDemo(*options));
}
