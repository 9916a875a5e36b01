// How many frames a capture holds: the frame clock's rows and the three ends
// (--to, the end of the music, control code 777), which must agree to the
// frame with what the demo would show.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shell/Capture.h"
#include "shell/OffscreenShow.h"
#include "shell/Options.h"
#include "sync/MusicClock.h"
#include "sync/Tracks.h"

namespace {

TEST(OffscreenFrameRow, WholeFramesLandOnExactRows) {
  const struct {
    double start;
    int64_t frame;
    int fps;
    double row;
  } cases[] = {
      {0.0, 3, 60, 1.0}, {0.0, 60, 60, 20.0}, {100.0, 60, 60, 120.0}, {0.0, 25, 25, 20.0},
      {0.0, 7919 * 3, 60, 7919.0},  // far into a show, still no drift
  };
  for (const auto& c : cases) {
    EXPECT_EQ(OffscreenFrameRow(c.start, c.frame, c.fps), c.row) << c.frame << " at " << c.fps << " fps";
  }
}

class CountCaptureFramesTest : public testing::Test {
 protected:
  void Use(std::vector<TrackKey> keys) {
    keys_ = std::move(keys);
    track_ = Track{nullptr, keys_.data(), int32_t(keys_.size())};
    Handle() = &track_;
  }
  void TearDown() override { Handle() = saved_; }
  static Track*& Handle() { return FrameTrackHandles[FrameTrackIndex(&FrameTrackValues::control)]; }

  std::vector<TrackKey> keys_;
  Track track_{};
  Track* saved_ = Handle();
};

TEST_F(CountCaptureFramesTest, EndsAtTheFirstOfToMusicAnd777) {
  const struct {
    const char* name;
    std::vector<TrackKey> control;
    double start;
    std::optional<double> end;
    double musicRows;
    int fps;
    int64_t frames;
  } cases[] = {
      {"the music's end", {{0, 3, KindStep}}, 0.0, std::nullopt, 40.0, 60, 120},
      {"--to is exclusive", {{0, 3, KindStep}}, 10.0, 30.0, 1000.0, 60, 60},
      {"--to past the music", {{0, 3, KindStep}}, 0.0, 100.0, 40.0, 25, 50},
      {"777 on a key between frames", {{0, 3, KindStep}, {21, 777, KindStep}}, 0.0, std::nullopt, 1000.0, 60, 63},
      {"777 on the way up a ramp", {{0, 776, KindLinear}, {10, 778, KindStep}}, 0.0, std::nullopt, 1000.0, 60, 15},
      {"778 and above go on", {{0, 778, KindStep}}, 0.0, 20.0, 1000.0, 60, 60},
      {"a start past 777", {{0, 777, KindStep}}, 5.0, 30.0, 1000.0, 60, 0},
  };
  for (const auto& c : cases) {
    Use(c.control);
    EXPECT_EQ(CountCaptureFrames(c.start, c.end, c.musicRows, c.fps, 1000000), c.frames) << c.name;
  }
}

TEST_F(CountCaptureFramesTest, StopsAtTheLimitWhenNothingEndsTheShow) {
  Use({{0, 3, KindStep}});
  EXPECT_EQ(CountCaptureFrames(0.0, std::nullopt, -1.0, 60, 500), 500);
}

// Memory that runs out for the pictures of a large --size ends the capture
// with a line and status 1, and leaves neither the video nor its temporary.
TEST(CaptureVideo, PicturesThatCannotBeHadEndItCleanly) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("capture-memory-" + std::to_string(getpid()));
  fs::create_directories(dir / "res");
  fs::create_directories(dir / "out");
  const fs::path before = fs::current_path();
  fs::current_path(dir);  // the show is read from ./res
  // The capture's start-up registers the show's tracks itself.
  DemoOptions options;
  options.mode = DemoMode::Capture;
  options.outputFile = (dir / "out" / "video.mp4").string();
  options.size = {64, 36};
  options.toRow = 10.0;
  SetCapturePicturesFailForTesting(true);
  testing::internal::CaptureStderr();
  const int status = CaptureVideo(options);
  const std::string said = testing::internal::GetCapturedStderr();
  SetCapturePicturesFailForTesting(false);
  DestroyTrackSet(CurrentTrackSet());
  fs::current_path(before);
  EXPECT_EQ(status, 1);
  EXPECT_NE(said.find("not enough memory"), std::string::npos) << said;
  EXPECT_TRUE(fs::is_empty(dir / "out")) << "a file or its temporary was left behind";
  fs::remove_all(dir);
}

}  // namespace
