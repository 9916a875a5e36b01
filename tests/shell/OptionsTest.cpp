#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/BuildServices.h"
#include "shell/Options.h"

namespace {

OptionsResult Parse(std::vector<const char*> args) {
  args.insert(args.begin(), "demo");
  return ParseDemoOptions(int(args.size()), args.data());
}

DemoOptions With(void (*change)(DemoOptions&)) {
  DemoOptions o;
  change(o);
  return o;
}

TEST(OptionsTest, AcceptedCommandLines) {
  struct Case {
    std::vector<const char*> args;
    DemoOptions expected;
  };
  const Case cases[] = {
      {{}, DemoOptions{}},
      {{"--window", "1280x720"}, With([](DemoOptions& o) { o.window = PixelSize{1280, 720}; })},
      {{"--window=640x360"}, With([](DemoOptions& o) { o.window = PixelSize{640, 360}; })},
      {{"--from", "1:01.5", "--edit", "show.tracks"}, With([](DemoOptions& o) {
         o.fromRow = 1230.0;
         o.editFile = "show.tracks";
       })},
      {{"--render", "r40", "-o", "still.png", "--size", "320x180", "--fps", "30"},
       With([](DemoOptions& o) {
         o.mode = DemoMode::Render;
         o.renderRow = 40.0;
         o.outputFile = "still.png";
         o.size = {320, 180};
         o.framesPerSecond = 30;
       })},
      {{"--capture", "show.mkv", "--from", "2", "--to", "4.5"}, With([](DemoOptions& o) {
         o.mode = DemoMode::Capture;
         o.outputFile = "show.mkv";
         o.fromRow = 40.0;
         o.toRow = 90.0;
       })},
      // The show's folder goes with every mode; --tracks with the offscreen ones.
      {{"--show", "/tmp/my show", "--window", "640x360"}, With([](DemoOptions& o) {
         o.showFolder = "/tmp/my show";
         o.window = PixelSize{640, 360};
       })},
      {{"--show=mine", "--edit", "s.tracks"}, With([](DemoOptions& o) {
         o.showFolder = "mine";
         o.editFile = "s.tracks";
       })},
      {{"--render", "r40", "-o", "a.png", "--tracks", "s.tracks", "--show", "mine"}, With([](DemoOptions& o) {
         o.mode = DemoMode::Render;
         o.renderRow = 40.0;
         o.outputFile = "a.png";
         o.tracksFile = "s.tracks";
         o.showFolder = "mine";
       })},
      {{"--capture", "a.mp4", "--tracks=s.tracks"}, With([](DemoOptions& o) {
         o.mode = DemoMode::Capture;
         o.outputFile = "a.mp4";
         o.tracksFile = "s.tracks";
       })},
      {{"--stats", "--window", "640x360"}, With([](DemoOptions& o) {
         o.stats = true;
         o.window = PixelSize{640, 360};
       })},
      {{"--edit", "s.tracks", "--port", "8080", "--open"}, With([](DemoOptions& o) {
         o.editFile = "s.tracks";
         o.studioPort = 8080;
         o.openStudio = true;
       })},
      // --help wins over everything else on the line, even a bad option.
      {{"--window", "0x0", "--help"}, With([](DemoOptions& o) { o.mode = DemoMode::Help; })},
      {{"-h"}, With([](DemoOptions& o) { o.mode = DemoMode::Help; })},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const char* a : c.args) line += std::string(a) + " ";
    const OptionsResult r = Parse(c.args);
    ASSERT_TRUE(r.ok) << line << ": " << r.error;
    EXPECT_TRUE(r.options == c.expected) << line;
  }
}

TEST(OptionsTest, RefusedCommandLinesSayWhatIsWrong) {
  struct Case {
    std::vector<const char*> args;
    const char* says;  // a part of the one-line message
  };
  const Case cases[] = {
      {{"--fullscreen"}, "unknown option '--fullscreen'"},
      {{"show.tracks"}, "unexpected argument 'show.tracks'"},
      {{"--window"}, "--window needs a value"},
      {{"--window", "0x720"}, "--window '0x720'"},
      {{"--window", "1280x"}, "--window '1280x'"},
      {{"--window", "1280*720"}, "--window '1280*720'"},
      {{"--window", "-1280x720"}, "--window '-1280x720'"},
      {{"--window", "99999x720"}, "--window '99999x720'"},
      {{"--from", "abc"}, "--from 'abc': not a time"},
      {{"--from", "1:75"}, "--from '1:75'"},
      {{"--from", "-3"}, "--from '-3'"},
      {{"--edit", ""}, "--edit '': the file name is empty"},
      {{"--from", "1", "--from", "2"}, "--from is given more than once"},
      {{"--render", "10"}, "--render needs an output file"},
      {{"--render", "10", "-o", "a.png", "--window", "640x360"}, "--window cannot be combined with --render"},
      {{"--render", "10", "-o", "a.png", "--edit", "s.tracks"}, "--edit cannot be combined with --render"},
      {{"--render", "10", "-o", "a.png", "--capture", "a.mp4"}, "cannot be combined"},
      {{"--render", "10", "-o", "a.png", "--size", "0x0"}, "--size '0x0'"},
      {{"--capture", "a.mp4", "--fps", "0"}, "--fps '0'"},
      {{"--capture", "a.mp4", "--fps", "2.5"}, "--fps '2.5'"},
      {{"--capture", "a.mp4", "--from", "5", "--to", "5"}, "--to must come after --from"},
      {{"--capture", "a.mp4", "-o", "b.png"}, "-o belongs to --render"},
      {{"--size", "640x360"}, "--size needs --render or --capture"},
      {{"--stats", "--stats"}, "--stats is given more than once"},
      {{"--capture", "a.mp4", "--stats"}, "--stats cannot be combined with --capture"},
      {{"--to", "10"}, "--to needs --render or --capture"},
      {{"--tracks", "s.tracks"}, "--tracks needs --render or --capture"},
      {{"--edit", "a.tracks", "--tracks", "s.tracks"}, "--edit takes the track text itself"},
      {{"--render", "1", "-o", "a.png", "--tracks", ""}, "--tracks '': the file name is empty"},
      {{"--show", ""}, "--show '': the folder name is empty"},
      {{"--show", "a", "--show", "b"}, "--show is given more than once"},
      {{"--port", "8080"}, "--port belongs to --edit"},
      {{"--open", "--window", "640x360"}, "--open belongs to --edit"},
      {{"--edit", "s.tracks", "--port", "0"}, "--port '0': not a port"},
      {{"--edit", "s.tracks", "--port", "65536"}, "--port '65536'"},
      {{"--edit", "s.tracks", "--port", "80a"}, "--port '80a'"},
      {{"--edit", "s.tracks", "--open", "--open"}, "--open is given more than once"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const char* a : c.args) line += std::string(a) + " ";
    const OptionsResult r = Parse(c.args);
    EXPECT_FALSE(r.ok) << line;
    EXPECT_NE(r.error.find(c.says), std::string::npos) << line << "gave: " << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << line << "gave more than one line";
  }
}

// The help offers a mode only where the build has every service it needs; the
// play options are always there.
TEST(OptionsTest, UsageListsTheModesTheBuildHas) {
  struct Case {
    BuildServices services;
    bool render, capture;
  };
  const Case cases[] = {
      {{.offscreenGl = true, .pngWriter = true, .videoEncoder = true}, true, true},
      {{}, false, false},
      {{.offscreenGl = true, .pngWriter = true}, true, false},
      {{.offscreenGl = true, .videoEncoder = true}, false, true},
      {{.pngWriter = true, .videoEncoder = true}, false, false},
      {{.offscreenGl = true, .videoEncoder = true, .matroska = true}, false, true},
  };
  for (const Case& c : cases) {
    const std::string usage = UsageFor(c.services);
    const std::string captureLine = "\n  --capture FILE";
    EXPECT_EQ(usage.find(captureLine, usage.find(captureLine) + 1), std::string::npos)
        << "--capture explained twice:\n" << usage;
    const std::string which = std::string("render ") + (c.render ? "on" : "off") + ", capture " +
                              (c.capture ? "on" : "off") + ":\n" + usage;
    EXPECT_EQ(usage.find("demo --render") != std::string::npos, c.render) << which;
    EXPECT_EQ(usage.find("  -o FILE.png") != std::string::npos, c.render) << which;
    EXPECT_EQ(usage.find("demo --capture") != std::string::npos, c.capture) << which;
    EXPECT_EQ(usage.find("  --to TIME") != std::string::npos, c.capture) << which;
    EXPECT_EQ(usage.find("  --size WxH") != std::string::npos, c.render || c.capture) << which;
    for (const char* always : {"usage: demo [--window WxH]", "  --from TIME", "  --edit FILE", "  --port N", "  --open", "  --stats",
                               "  -h, --help", "20 rows per second"}) {
      EXPECT_NE(usage.find(always), std::string::npos) << always << " in " << which;
    }
  }
}

// Matroska is offered only by an encoder that writes it (FFmpeg's, not
// Media Foundation's), and the help says so.
TEST(OptionsTest, UsageOffersMatroskaOnlyWhereTheEncoderWritesIt) {
  for (bool matroska : {true, false}) {
    const std::string usage =
        UsageFor({.offscreenGl = true, .pngWriter = true, .videoEncoder = true, .matroska = matroska});
    EXPECT_EQ(usage.find(".mkv") != std::string::npos, matroska) << usage;
    EXPECT_NE(usage.find("H.264 and AAC in MP4"), std::string::npos) << usage;
  }
}

}  // namespace
