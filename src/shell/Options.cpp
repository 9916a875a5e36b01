#include "shell/Options.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "platform/BuildServices.h"
#include "platform/Messages.h"
#include "sync/ShowTime.h"

namespace {

// Larger than any GL implementation's viewport limit; the real limit is the
// context's and is checked where a context exists.
constexpr int LargestSide = 32768;
constexpr int MostFramesPerSecond = 1000;

// The usage, piece by piece, each with the services it needs: the help lists
// only the modes this build can run (BuildServices.h).
enum class Needs { Nothing, Still, Video, VideoMatroska, VideoMp4Only, StillOrVideo };

struct UsagePiece {
  Needs needs;
  const char* text;
};

constexpr UsagePiece UsagePieces[] = {
    {Needs::Nothing,
     "usage: demo [--window WxH] [--from TIME] [--edit FILE [--port N] [--open]] [--stats]\n"
     "            [--show DIR]\n"},
    {Needs::Still, "       demo --render TIME -o FILE.png [--tracks FILE] [--size WxH] [--fps N] [--show DIR]\n"},
    {Needs::Video,
     "       demo --capture FILE [--tracks FILE] [--size WxH] [--fps N] [--from TIME] [--to TIME]\n"
     "            [--show DIR]\n"},
    {Needs::Nothing,
     "\n"
     "Without options the show plays over the whole desktop from its start to its end.\n"
     "\n"
     "  --show DIR       play the show whose files are in the folder DIR: the music, the\n"
     "                   seven images and the steak_*.track files (default res)\n"
     "  --window WxH     play in an ordinary window of W x H pixels\n"
     "  --from TIME      start the music and the show at TIME\n"
     "  --edit FILE      take the tracks from the track text FILE (as demotool track\n"
     "                   build reads it) and take them again on every save; a save with\n"
     "                   errors keeps the last good tracks and shows FILE:LINE: message.\n"
     "                   Space pauses and resumes, Left/Right seek 1 s, Up/Down 10 s,\n"
     "                   Home goes to the start; a status line shows time, row, control\n"
     "                   code with its plane and image, and frames per second; the end\n"
     "                   code holds the show instead of ending it; a picture whose file\n"
     "                   changes is loaded again. It also serves the studio, a page\n"
     "                   that edits FILE in the browser, on 127.0.0.1 and says its\n"
     "                   address (with a secret token) once on stderr\n"
     "  --port N         the studio's port (default: a free one)\n"
     "  --open           open the studio in the default browser\n"},
    {Needs::Still,
     "  --render TIME    write the frame at TIME to the PNG file given with -o, offscreen\n"
     "  -o FILE.png      the still's output file\n"},
    {Needs::VideoMatroska,
     "  --capture FILE   encode the show with its music into FILE (H.264 and AAC in MP4,\n"
     "                   Matroska when FILE ends in .mkv), offscreen\n"},
    {Needs::VideoMp4Only,
     "  --capture FILE   encode the show with its music into FILE (H.264 and AAC in MP4),\n"
     "                   offscreen, with the system's encoders (where it has none, as\n"
     "                   Windows N editions, the capture is refused)\n"},
    {Needs::Video, "  --to TIME        end the capture at TIME (otherwise at the show's end)\n"},
    {Needs::StillOrVideo,
     "  --tracks FILE    take the tracks of --render or --capture from the track text\n"
     "                   FILE instead of the steak_*.track files; errors refuse the run\n"
     "  --size WxH       picture size of --render and --capture (default 1920x1080)\n"
     "  --fps N          frames per second of --render's fade state and of --capture\n"
     "                   (default 60)\n"},
    {Needs::Nothing,
     "  --stats          print the start-up time to the first show frame with each\n"
     "                   step's share on stderr, and the frame times at exit\n"
     "  -h, --help       show this text\n"
     "\n"
     "TIME is seconds (61.5), minutes and seconds (1:01.5) or a row with a leading r\n"
     "(r1230); the timeline runs at 20 rows per second.\n"
     "Escape, the right mouse button, closing the window or Ctrl+C end the show; two\n"
     "termination signals within 2 s are one request.\n"},
};

// "WxH" with both sides whole numbers from 1 to LargestSide.
bool ParseSize(std::string_view text, PixelSize* size) {
  const size_t x = text.find('x');
  if (x == std::string_view::npos) return false;
  int sides[2] = {0, 0};
  const std::string_view parts[2] = {text.substr(0, x), text.substr(x + 1)};
  for (int i = 0; i < 2; ++i) {
    if (parts[i].empty() || parts[i].size() > 6) return false;
    for (char c : parts[i]) {
      if (c < '0' || c > '9') return false;
      sides[i] = sides[i] * 10 + (c - '0');
    }
    if (sides[i] < 1 || sides[i] > LargestSide) return false;
  }
  *size = {sides[0], sides[1]};
  return true;
}

bool ParsePort(std::string_view text, int* port) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = value;
  return true;
}

bool ParseFramesPerSecond(std::string_view text, int* fps) {
  if (text.empty() || text.size() > 4) return false;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > MostFramesPerSecond) return false;
  *fps = value;
  return true;
}

// The options that take a value, and which of the modes accept them.
enum Option { Window, From, To, Edit, Render, Output, Capture, Size, Fps, Tracks, Show, Port, OptionCount };

struct OptionInfo {
  const char* name;
  const char* valueName;
};

constexpr OptionInfo Options[OptionCount] = {
    {"--window", "WxH"},  {"--from", "TIME"},  {"--to", "TIME"},
    {"--edit", "FILE"},   {"--render", "TIME"}, {"-o", "FILE.png"},
    {"--capture", "FILE"}, {"--size", "WxH"},   {"--fps", "N"},
    {"--tracks", "FILE"},  {"--show", "DIR"},    {"--port", "N"},
};

int FindOption(std::string_view name) {
  for (int i = 0; i < OptionCount; ++i) {
    if (name == Options[i].name) return i;
  }
  return -1;
}

OptionsResult Refuse(std::string message) {
  OptionsResult result;
  result.error = std::move(message);
  return result;
}

}  // namespace

std::string UsageFor(const BuildServices& services) {
  const bool still = services.offscreenGl && services.pngWriter;
  const bool video = services.offscreenGl && services.videoEncoder;
  std::string usage;
  for (const UsagePiece& piece : UsagePieces) {
    bool shown = false;
    switch (piece.needs) {
      case Needs::Nothing: shown = true; break;
      case Needs::Still: shown = still; break;
      case Needs::Video: shown = video; break;
      case Needs::VideoMatroska: shown = video && services.matroska; break;
      case Needs::VideoMp4Only: shown = video && !services.matroska; break;
      case Needs::StillOrVideo: shown = still || video; break;
    }
    if (shown) usage += piece.text;
  }
  return usage;
}

const std::string& DemoUsage() {
  static const std::string usage = UsageFor(ServicesInThisBuild());
  return usage;
}

OptionsResult ParseDemoOptions(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      OptionsResult help;
      help.ok = true;
      help.options.mode = DemoMode::Help;
      return help;
    }
  }

  DemoOptions o;
  bool given[OptionCount] = {};
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--stats") {
      if (o.stats) return Refuse("--stats is given more than once");
      o.stats = true;
      continue;
    }
    if (arg == "--open") {
      if (o.openStudio) return Refuse("--open is given more than once");
      o.openStudio = true;
      continue;
    }
    std::string_view name = arg;
    std::string_view value;
    bool hasValue = false;
    const size_t equals = arg.find('=');
    if (arg.substr(0, 2) == "--" && equals != std::string_view::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      hasValue = true;
    }
    const int option = FindOption(name);
    if (option < 0) {
      if (!arg.empty() && arg[0] == '-') return Refuse("unknown option '" + std::string(arg) + "'");
      return Refuse("unexpected argument '" + std::string(arg) + "'");
    }
    const OptionInfo& info = Options[option];
    if (given[option]) return Refuse(std::string(info.name) + " is given more than once");
    given[option] = true;
    if (!hasValue) {
      if (i + 1 >= argc) {
        return Refuse(std::string(info.name) + " needs a value: " + info.name + " " + info.valueName);
      }
      value = argv[++i];
    }
    const std::string text(value);
    const auto bad = [&](const char* what) {
      return Refuse(std::string(info.name) + " '" + text + "': " + what);
    };
    switch (option) {
      case Window: {
        PixelSize size;
        if (!ParseSize(value, &size)) return bad("not a size WxH of 1 to 32768 pixels a side");
        o.window = size;
        break;
      }
      case Size:
        if (!ParseSize(value, &o.size)) return bad("not a size WxH of 1 to 32768 pixels a side");
        break;
      case From:
      case To:
      case Render: {
        double row = 0.0;
        if (!ParseShowTime(text.c_str(), &row)) {
          return bad("not a time: seconds (61.5), m:ss (1:01.5) or a row (r1230)");
        }
        if (option == From) o.fromRow = row;
        if (option == To) o.toRow = row;
        if (option == Render) o.renderRow = row;
        break;
      }
      case Fps:
        if (!ParseFramesPerSecond(value, &o.framesPerSecond)) return bad("not a whole number from 1 to 1000");
        break;
      case Edit:
      case Output:
      case Capture:
      case Tracks:
        if (text.empty()) return bad("the file name is empty");
        if (option == Edit) o.editFile = text;
        else if (option == Tracks) o.tracksFile = text;
        else o.outputFile = text;
        break;
      case Port: {
        int port = 0;
        if (!ParsePort(value, &port)) return bad("not a port from 1 to 65535");
        o.studioPort = port;
        break;
      }
      case Show:
        // Whether it is a folder is the files service's to say, at start.
        if (text.empty()) return bad("the folder name is empty");
        o.showFolder = text;
        break;
    }
  }

  // Which options belong to which mode.
  if ((given[Port] || o.openStudio) && !given[Edit]) {
    return Refuse(std::string(given[Port] ? "--port" : "--open") + " belongs to --edit, which serves the studio");
  }
  if (given[Render] && given[Capture]) return Refuse("--render and --capture cannot be combined");
  if (given[Render]) o.mode = DemoMode::Render;
  if (given[Capture]) o.mode = DemoMode::Capture;
  const auto notWith = [&](Option option, const char* mode) {
    return Refuse(std::string(Options[option].name) + " cannot be combined with " + mode);
  };
  switch (o.mode) {
    case DemoMode::Play:
      if (given[Tracks]) {
        return Refuse(given[Edit] ? "--tracks belongs to --render and --capture; --edit takes the track text itself"
                                  : "--tracks needs --render or --capture (in a window, --edit FILE plays track text)");
      }
      for (Option option : {Output, Size, Fps, To}) {
        if (given[option]) {
          return Refuse(std::string(Options[option].name) + " needs --render or --capture");
        }
      }
      break;
    case DemoMode::Render:
      if (!given[Output]) return Refuse("--render needs an output file: -o FILE.png");
      if (o.stats) return Refuse("--stats cannot be combined with --render");
      for (Option option : {Window, From, To, Edit}) {
        if (given[option]) return notWith(option, "--render");
      }
      break;
    case DemoMode::Capture:
      if (given[Output]) return Refuse("-o belongs to --render; --capture takes its file itself");
      if (o.stats) return Refuse("--stats cannot be combined with --capture");
      for (Option option : {Window, Edit}) {
        if (given[option]) return notWith(option, "--capture");
      }
      if (o.toRow && !(*o.toRow > o.fromRow.value_or(0.0))) {
        return Refuse("--to must come after --from (or after the start)");
      }
      break;
    case DemoMode::Help:
      break;
  }
  OptionsResult result;
  result.ok = true;
  result.options = o;
  return result;
}

std::optional<DemoOptions> ReadCommandLine(int argc, const char* const* argv, int* exitCode) {
  const OptionsResult parsed = ParseDemoOptions(argc, argv);
  if (!parsed.ok) {
    Say(Subsystem::Startup, "%s", parsed.error.c_str());
    SayLines(Subsystem::Usage, DemoUsage());
    *exitCode = 2;
    return std::nullopt;
  }
  if (parsed.options.mode == DemoMode::Help) {
    std::fputs(DemoUsage().c_str(), stdout);
    *exitCode = 0;
    return std::nullopt;
  }
  return parsed.options;
}
