// The demo's command line: a pure function from the arguments to what the
// run should do, so that every option and every refusal can be checked
// without a window.
#pragma once

#include <optional>
#include <string>

enum class DemoMode {
  Play,     // the show in a window (the default: the whole desktop)
  Render,   // one still frame written as a PNG file, offscreen
  Capture,  // the show encoded into a video file, offscreen
  Help,     // print the usage and exit 0
};

struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};

inline constexpr PixelSize DefaultOffscreenSize{1920, 1080};
inline constexpr int DefaultFramesPerSecond = 60;

struct DemoOptions {
  DemoMode mode = DemoMode::Play;
  std::optional<PixelSize> window;  // --window WxH: an ordinary window of that size
  std::optional<double> fromRow;    // --from TIME (Play and Capture)
  std::optional<double> toRow;      // --to TIME (Capture)
  std::string editFile;             // --edit FILE: track text, compiled and watched
  std::string tracksFile;           // --tracks FILE: track text for Render and Capture
  std::string showFolder;           // --show DIR: the show's files (empty: ShowFolder)
  double renderRow = 0.0;           // --render TIME
  std::string outputFile;           // -o FILE.png for --render; --capture FILE
  PixelSize size = DefaultOffscreenSize;     // --size WxH (Render and Capture)
  int framesPerSecond = DefaultFramesPerSecond;  // --fps N (Render and Capture)
  bool stats = false;               // --stats: start-up and frame times on stderr (Play)
  std::optional<int> studioPort;    // --port N: the studio's port (--edit)
  bool openStudio = false;          // --open: the studio in the default browser (--edit)

  bool operator==(const DemoOptions&) const = default;
};

struct OptionsResult {
  bool ok = false;
  DemoOptions options;  // meaningful when ok
  std::string error;    // one line saying what is wrong, when not ok
};

// Reads argv[1..argc-1]. Each option may be written "--name VALUE" or
// "--name=VALUE". --help (or -h) anywhere asks for the usage.
OptionsResult ParseDemoOptions(int argc, const char* const* argv);

struct BuildServices;

// The text of `demo --help` for a build with these services: the still and
// capture modes only where their services are built in.
std::string UsageFor(const BuildServices& services);
// The text for this build.
const std::string& DemoUsage();

// Runs the parser on the process's arguments and answers the requests that
// end the run at once: --help prints the usage on stdout (exit 0), a refusal
// prints "demo: startup: <what is wrong>" and the usage on stderr (exit 2). Returns
// the options to run with, or the exit code in *exitCode.
std::optional<DemoOptions> ReadCommandLine(int argc, const char* const* argv, int* exitCode);
