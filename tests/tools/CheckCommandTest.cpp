// demotool check against copies of the bundled show with one thing broken at
// a time: each breakage must be found and named, and only then.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "sync/MusicClock.h"
#include "sync/ShowTime.h"
#include "sync/TrackFile.h"
#include "tools/ToolRunner.h"

namespace fs = std::filesystem;

namespace {

ToolRun RunCheck(const fs::path& dir) { return RunDemotool("check '" + dir.string() + "'", true); }

void WriteTrack(const fs::path& path, std::initializer_list<TrackKey> keys) {
  const std::vector<TrackKey> list(keys);
  const std::vector<uint8_t> bytes = EncodeTrackFile(list.data(), static_cast<int32_t>(list.size()));
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

class CheckCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    show = fs::temp_directory_path() /
           ("check-show-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(show);
    for (const auto& entry : fs::directory_iterator(fs::path(DEMO_SOURCE_DIR) / "res")) {
      if (entry.is_regular_file()) fs::copy_file(entry.path(), show / entry.path().filename());
    }
  }
  void TearDown() override { fs::remove_all(show); }
  fs::path show;
};

TEST_F(CheckCommandTest, TheBundledShowPasses) {
  const ToolRun r = RunCheck(show);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("control reaches 777 at row 2640.00"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(": 0 problem(s), 0 warning(s)"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("grlsch.png                 ok      PNG route"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("vorn.gif                   ok      system route"), std::string::npos) << r.output;
}

TEST_F(CheckCommandTest, EachBreakageIsFoundAndNamed) {
  struct Case {
    const char* name;
    void (*breakIt)(const fs::path&);
    const char* expectedLine;  // the start of the line that must report it
  };
  const Case cases[] = {
      {"missing image", [](const fs::path& d) { fs::remove(d / "tile.jpg"); }, "tile.jpg                   PROBLEM missing"},
      {"damaged png",
       [](const fs::path& d) {
         fs::resize_file(d / "grlsch.png", 100);  // header intact, image data cut
       },
       "grlsch.png                 PROBLEM PNG route"},
      {"png that is no image",
       [](const fs::path& d) { std::ofstream(d / "grlsch.png") << "not a picture at all"; },
       "grlsch.png                 PROBLEM"},
      {"missing track", [](const fs::path& d) { fs::remove(d / "steak_scroll.r.track"); },
       "steak_scroll.r.track       PROBLEM missing"},
      {"rows out of order",
       [](const fs::path& d) { WriteTrack(d / "steak_back.x.track", {{10, 1.0f, 1}, {10, 2.0f, 1}}); },
       "steak_back.x.track         PROBLEM key 1"},
      {"short track file",
       [](const fs::path& d) { fs::resize_file(d / "steak_back.y.track", 4 + 9 + 4); },
       "steak_back.y.track         PROBLEM"},
      {"missing music", [](const fs::path& d) { fs::remove(d / "Quelf - Tavoy Rip.mp3"); },
       "Quelf - Tavoy Rip.mp3      PROBLEM"},
      {"music that is no mp3",
       [](const fs::path& d) { std::ofstream(d / "Quelf - Tavoy Rip.mp3") << std::string(5000, 'x'); },
       "Quelf - Tavoy Rip.mp3      PROBLEM"},
      {"show that never ends",
       [](const fs::path& d) { WriteTrack(d / "steak_control.track", {{0, 5.0f, 0}, {100, 776.9f, 0}}); },
       "end of show                PROBLEM control never reaches 777"},
      {"track file the show never reads",
       [](const fs::path& d) { WriteTrack(d / "steak_back.rotzz.track", {{0, 1.0f, 0}}); },
       "steak_back.rotzz.track     PROBLEM the show reads no track 'back.rotzz', so never this file; did you "
       "mean back.rotz?"},
      {"end after the music",
       [](const fs::path& d) { WriteTrack(d / "steak_control.track", {{0, 5.0f, 0}, {100000, 777.0f, 0}}); },
       "end of show                PROBLEM"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(show);
    SetUp();
    c.breakIt(show);
    const ToolRun r = RunCheck(show);
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find(c.expectedLine), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(": 1 problem(s)"), std::string::npos) << "one breakage, one problem\n" << r.output;
  }
}

// What the show plays but surely was not meant: a warning naming the track
// and the row, which leaves the show passing.
TEST_F(CheckCommandTest, KeysTheShowSurelyDidNotMeanAreWarnings) {
  WriteTrack(show / "steak_control.track", {{0, 7.0f, 1}, {40, 777.0f, 0}});
  WriteTrack(show / "steak_back.n.track", {{0, 1.0f, 0}, {320, 9.0f, 0}});
  const ToolRun r = RunCheck(show);
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("steak_control.track        warning key 0, row 0: linear key: the code slides"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("steak_back.n.track         warning key 1, row 320: slot 9 holds no image"),
            std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find(": 0 problem(s), 2 warning(s)"), std::string::npos) << r.output;
}

// The row reported is the one at which the show ends: a step key's own row,
// whatever the row, and part way along a key that slides into the code.
TEST_F(CheckCommandTest, TheEndOfTheShowIsReportedAtItsRow) {
  struct Case {
    std::initializer_list<TrackKey> keys;
    const char* expected;
  };
  const Case cases[] = {
      {{{0, 5.0f, 0}, {1400, 777.0f, 0}}, "control reaches 777 at row 1400.00 (70.00 s)"},
      {{{0, 5.0f, 0}, {2400, 777.0f, 0}}, "control reaches 777 at row 2400.00 (120.00 s)"},
      {{{-100, 5.0f, 0}, {1999, 777.0f, 0}, {2001, 5.0f, 0}}, "control reaches 777 at row 1999.00"},
      // A slide from 700 to 800 over rows 1000 to 1100 comes to 777 at row 1077.
      {{{0, 5.0f, 0}, {1000, 700.0f, 1}, {1100, 800.0f, 0}}, "control reaches 777 at row 1077.00"},
      // Coming down from 900, the code is 777 once the value falls below 778.
      {{{0, 900.0f, 1}, {1220, 778.0f, 1}, {1230, 0.0f, 0}}, "control reaches 777 at row 1220.00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    fs::remove_all(show);
    SetUp();
    WriteTrack(show / "steak_control.track", c.keys);
    const ToolRun r = RunCheck(show);
    EXPECT_NE(r.output.find(c.expected), std::string::npos) << r.output;
  }
}

// The demo refuses times past the end of the music and shows it in --edit's
// status line; check must name that same end, measured the same way, not a
// decoder's idea of the length that differs by its padding.
TEST_F(CheckCommandTest, TheMusicLengthIsTheOneTheDemoUses) {
  const std::optional<double> endRow = MusicFileEndRow((show / "Quelf - Tavoy Rip.mp3").string());
  ASSERT_TRUE(endRow);
  const std::string demoEnd = FormatShowTime(*endRow / RowsPerSecond);
  const ToolRun r = RunCheck(show);
  EXPECT_NE(r.output.find("ok      " + demoEnd + " of music"), std::string::npos) << demoEnd << "\n" << r.output;
  char rows[64];
  std::snprintf(rows, sizeof rows, "the music ends at row %.2f (%s)", *endRow, demoEnd.c_str());
  EXPECT_NE(r.output.find(rows), std::string::npos) << r.output;
}

TEST_F(CheckCommandTest, AFolderThatIsNotThereIsAnErrorNotACrash) {
  const ToolRun r = RunCheck(show / "nowhere");
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("cannot open the folder"), std::string::npos) << r.output;
}

}  // namespace
