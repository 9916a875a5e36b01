// The edit mode's status line: where the show stands and what it draws.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "shell/EditSession.h"
#include "sync/MusicClock.h"
#include "sync/Tracks.h"

namespace {

TEST(EditSessionTest, StatusLineNamesTimeRowCodePlaneAndRate) {
  struct Case {
    EditStatus status;
    const char* expected;
  };
  const Case cases[] = {
      {{61.5, 1230.0, 5, false, false, 59.6}, "1:01.50   row 1230.0   code 5: plane B in, atari_st_bee.gif   60 fps"},
      {{0.0, 0.0, 0, false, false, 0.0}, "0:00.00   row 0.0   code 0: no plane   0 fps"},
      {{2.0, 40.0, 2, true, false, 60.0}, "0:02.00   row 40.0   code 2: plane A out, grlsch.png   paused"},
      {{7.049, 140.98, 8, false, false, 144.0}, "0:07.04   row 140.9   code 8: plane C out, vorn.gif   144 fps"},
      {{120.0, 2400.0, 777, true, true, 60.0}, "2:00.00   row 2400.0   code 777: end of the show   held at the end"},
      {{1.0, 20.0, 12, false, false, 30.0}, "0:01.00   row 20.0   code 12: no plane   30 fps"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatEditStatus(c.status), c.expected);
}

// Saves of the watched file at moments the test chooses, on a clock of its own.
class EditSaveTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = std::filesystem::temp_directory_path() / ("edit-save-" + std::to_string(getpid()) + ".tracks");
    Save("track back.x\n0 1 step\n20 2 step\n");
    SetEditSessionClock(Clock);
    RequestShowTracks(false);
    BeginEditSession(path_.string(), 640, 360);
  }
  void TearDown() override {
    SetEditSessionClock(nullptr);
    DestroyTrackSet(CurrentTrackSet());
    std::filesystem::remove(path_);
  }
  void Save(const std::string& text) { std::ofstream(path_, std::ios::binary | std::ios::trunc) << text; }
  // Moves the clock on and lets the session look at the file.
  void LookAfter(int ms) {
    now_ += std::chrono::milliseconds(ms);
    LookAtEditFile();
  }
  static int32_t Keys() { return GetTrack("back.x")->keyCount; }
  static std::chrono::steady_clock::time_point Clock() { return now_; }

  static inline std::chrono::steady_clock::time_point now_{std::chrono::hours(1)};
  std::filesystem::path path_;
};

TEST_F(EditSaveTest, AFileCaughtEmptyMidSaveKeepsTheTracks) {
  ASSERT_EQ(Keys(), 2);
  Save("");
  LookAfter(20);
  EXPECT_EQ(Keys(), 2) << "the truncated file was applied at once";
  LookAfter(150);
  EXPECT_EQ(Keys(), 2) << "the truncated file was applied within 200 ms";
  Save("track back.x\n0 1 step\n20 2 step\n40 3 step\n");
  LookAfter(20);
  EXPECT_EQ(Keys(), 3) << "the save that followed the truncation";
}

TEST_F(EditSaveTest, AFileThatStaysEmptyEmptiesTheShow) {
  Save("");
  LookAfter(20);
  LookAfter(100);
  EXPECT_EQ(Keys(), 2);
  LookAfter(100);
  EXPECT_EQ(Keys(), 0) << "a file emptied on purpose";
  Save("track back.x\n5 1 step\n");
  LookAfter(20);
  EXPECT_EQ(Keys(), 1) << "other saves are applied at once";
}

}  // namespace
