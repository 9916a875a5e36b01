// demotool track plot, run as a person runs it: the same picture from track
// text and from the folder it builds, both file kinds, and refusals that say
// what is wrong and leave no file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/ToolRunner.h"

namespace fs = std::filesystem;

namespace {

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class PlotCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("plot-cmd-" + std::to_string(getpid()));
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "text");
    std::ofstream(dir / "show.tracks") << "track control\n0 7 step\n100 8 step\n200 777 step\n"
                                          "track back.x\n0 0 linear\n50 1.5 smooth\n150 -1 ramp\n190 2 9\n";
    std::ofstream(dir / "broken.tracks") << "track control\n0 7 step\n0 8 step\n";
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string Path(const char* name) const { return (dir / name).string(); }

  fs::path dir;
};

TEST_F(PlotCommandTest, TextAndItsBuiltFolderGiveTheSamePicture) {
  // The title names the source: the text and the folder share a name.
  fs::copy_file(dir / "show.tracks", dir / "text/show");
  ASSERT_EQ(RunDemotool("track build " + Path("show.tracks") + " " + Path("show"), false).status, 0);
  const std::string range = " --to 12 --tracks control,back.x";
  ToolRun fromText = RunDemotool("track plot " + Path("text/show") + " -o " + Path("out/text.png") + range, true);
  ToolRun fromFolder = RunDemotool("track plot " + Path("show") + " -o " + Path("out/folder.png") + range, true);
  ASSERT_EQ(fromText.status, 0) << fromText.output;
  ASSERT_EQ(fromFolder.status, 0) << fromFolder.output;
  const std::string png = Slurp(dir / "out/text.png");
  ASSERT_GT(png.size(), 1000u);
  EXPECT_EQ(png.compare(0, 8, "\x89PNG\r\n\x1a\n"), 0);
  EXPECT_TRUE(png == Slurp(dir / "out/folder.png")) << "the folder's picture differs from the text's";

  ASSERT_EQ(RunDemotool("track plot " + Path("show") + " -o " + Path("out/all.svg"), false).status, 0);
  EXPECT_NE(Slurp(dir / "out/all.svg").find("<svg"), std::string::npos);
}

TEST_F(PlotCommandTest, RefusalsSayWhatIsWrongAndWriteNothing) {
  const struct {
    std::string args;
    int status;
    std::string says;
  } cases[] = {
      {"track plot " + Path("broken.tracks") + " -o " + Path("out/a.png"), 1, "broken.tracks:3:"},
      {"track plot " + Path("show.tracks") + " -o " + Path("out/a.jpg"), 2, ".png or .svg"},
      {"track plot " + Path("show.tracks") + " -o " + Path("out/a.png") + " --tracks control,scroll.z", 2, "scroll.z"},
      {"track plot " + Path("show.tracks") + " -o " + Path("out/a.png") + " --from 10 --to 5", 2, "--to"},
      {"track plot " + Path("show.tracks") + " -o " + Path("out/a.png") + " --from soon", 2, "not a time"},
      {"track plot " + Path("nothing.tracks") + " -o " + Path("out/a.png"), 2, "no such file"},
      {"track plot " + Path("show.tracks") + " -o " + Path("missing/a.png"), 2, "cannot write"},
      {"track plot " + Path("show.tracks"), 2, "-o FILE"},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunDemotool(c.args, true);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << c.args << "\n" << run.output;
  }
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// Names that are not UTF-8 text would make a picture that lies, or an SVG no
// reader takes: refused with the reason and the line, nothing written.
TEST_F(PlotCommandTest, NamesThatAreNotUtf8TextAreRefused) {
  const struct {
    const char* text;
    const char* says;
  } cases[] = {
      {"track caf\xe9\n0 1 step\n", "track name 'caf"},
      {"track back.x\n0 1 step\nmark 0:01 caf\xe9\n", ":3: the mark's name is not UTF-8"},
  };
  for (const auto& c : cases) {
    std::ofstream(dir / "latin1.tracks") << c.text;
    for (const char* out : {"out/a.svg", "out/a.png"}) {
      const ToolRun run = RunDemotool("track plot " + Path("latin1.tracks") + " -o " + Path(out), true);
      EXPECT_EQ(run.status, 1) << run.output;
      EXPECT_NE(run.output.find(c.says), std::string::npos) << run.output;
    }
  }
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// The text's tempo and mark lines are drawn; the PNG and the SVG are the
// size the layout gives (1600 wide; 64 + 44 + the lanes high), and a plot
// written over an older one replaces it whole.
TEST_F(PlotCommandTest, TempoAndMarksAreDrawnAndBothFormatsHaveTheLayoutsSize) {
  std::ofstream(dir / "notes.tracks") << "track control\n0 7 step\ntrack back.x\n0 0 linear\n100 1 step\n"
                                         "tempo 120\nmark 0:02 verse\n";
  std::ofstream(dir / "out/p.svg") << std::string(2000000, 'x');
  for (const char* out : {"out/p.svg", "out/p.png"}) {
    const ToolRun run = RunDemotool("track plot " + Path("notes.tracks") + " -o " + Path(out), true);
    ASSERT_EQ(run.status, 0) << run.output;
  }
  const std::string svg = Slurp(dir / "out/p.svg");
  EXPECT_NE(svg.find("<polyline class=\"beat\""), std::string::npos);
  EXPECT_NE(svg.find(">verse</text>"), std::string::npos);
  EXPECT_NE(svg.find("width=\"1600\" height=\"306\""), std::string::npos);
  EXPECT_EQ(svg.find('x', svg.size() - 10), std::string::npos) << "the older file's bytes remain";
  const std::string png = Slurp(dir / "out/p.png");
  ASSERT_GT(png.size(), 24u);
  const auto be32 = [&](size_t at) {
    return uint32_t(uint8_t(png[at])) << 24 | uint32_t(uint8_t(png[at + 1])) << 16 | uint32_t(uint8_t(png[at + 2])) << 8 |
           uint8_t(png[at + 3]);
  };
  EXPECT_EQ(be32(16), 1600u);
  EXPECT_EQ(be32(20), 306u);
}

// The axis gets a bounded number of labels whatever the range: a key at the
// last row there is gives a picture no larger than a short show's.
TEST_F(PlotCommandTest, AFarKeyGivesAsManyAxisLabelsAsANearOne) {
  std::ofstream(dir / "far.tracks") << "track back.x\n0 0 linear\n2147483647 1 step\n";
  std::ofstream(dir / "near.tracks") << "track back.x\n0 0 linear\n2147 1 step\n";
  for (const char* name : {"far", "near"}) {
    const std::string args = "track plot " + Path(name) + ".tracks -o " + (dir / "out" / name).string() + ".svg";
    const ToolRun run = RunDemotool(args, true);
    ASSERT_EQ(run.status, 0) << run.output;
  }
  const auto far = fs::file_size(dir / "out/far.svg"), near = fs::file_size(dir / "out/near.svg");
  EXPECT_LT(far, near * 3 / 2) << "far: " << far << " bytes, near: " << near;
}

}  // namespace
