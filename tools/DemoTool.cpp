// demotool: the command-line companion for people who write shows.
#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "Commands.h"
#include "platform/CommandLine.h"

namespace {

const char* const Usage =
    "usage: demotool COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  track build SOURCE OUTDIR   compile a track text file into the show's steak_NAME.track files\n"
    "  track dump FILE             print a binary track file as track text\n"
    "  track eval FILE ROW...      print the track's value at each fractional row\n"
    "  track check FILE...         report problems in binary track files\n"
    "  track plot SOURCE -o FILE   draw a show's tracks as a PNG or SVG picture\n"
    "  inflate FILE [-o OUT] [--limit BYTES]\n"
    "                              decompress one zlib stream with the demo's inflater\n"
    "  png FILE [-o OUT]           decode a PNG file with the demo's decoder (raw RGBA out)\n"
    "  check [RESDIR]              validate a show folder as the demo will read it (default res)\n"
    "  beats MUSIC.mp3 [--write FILE]\n"
    "                              find the music's tempo and beats; --write puts the tempo into track text\n"
    "  --help                      this text\n";

}  // namespace

int main(int nativeArgc, char** nativeArgv) {
  // Names in any script: the arguments as UTF-8, and a console that shows
  // the UTF-8 the commands print.
  Utf8Arguments arguments(nativeArgc, nativeArgv);
  const int argc = arguments.Count();
  char** const argv = arguments.Values();
  UseUtf8Console();
#ifdef _WIN32
  // Line feeds alone, as on every other system: what demotool prints is
  // piped into other tools and compared byte for byte between systems.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  if (argc < 2) {
    std::fputs(Usage, stderr);
    return 2;
  }
  const char* command = argv[1];
  if (!std::strcmp(command, "--help") || !std::strcmp(command, "-h") || !std::strcmp(command, "help")) {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (!std::strcmp(command, "track")) return RunTrackCommand(argc - 2, argv + 2);
  if (!std::strcmp(command, "inflate")) return RunInflateCommand(argc - 2, argv + 2);
  if (!std::strcmp(command, "png")) return RunPngCommand(argc - 2, argv + 2);
  if (!std::strcmp(command, "check")) return RunCheckCommand(argc - 2, argv + 2);
  if (!std::strcmp(command, "beats")) return RunBeatsCommand(argc - 2, argv + 2);
  std::fprintf(stderr, "demotool: unknown command '%s'\n\n%s", command, Usage);
  return 2;
}
