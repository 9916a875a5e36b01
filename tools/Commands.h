// The command groups of demotool. Each takes the arguments after its own name
// and returns the process exit status.
#pragma once

int RunTrackCommand(int argc, char** argv);    // track build|dump|eval|check|plot
int RunTrackPlot(int argc, char** argv);       // track plot SOURCE -o FILE ...
int RunInflateCommand(int argc, char** argv);  // inflate FILE [-o OUT] [--limit BYTES]
int RunPngCommand(int argc, char** argv);      // png FILE [-o OUT]
int RunCheckCommand(int argc, char** argv);    // check [RESDIR]
int RunBeatsCommand(int argc, char** argv);    // beats MUSIC.mp3 [--write FILE]
