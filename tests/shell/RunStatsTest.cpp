#include <gtest/gtest.h>

#include "shell/RunStats.h"

namespace {

TEST(RunStatsTest, FrameLineCountsIntervalsNotFrames) {
  // Five frames 100 ms apart from first to last are four intervals: 40 fps,
  // not 50; the percentiles come from the intervals whatever their order.
  EXPECT_EQ(FrameReport(5, {30.0, 10.0, 40.0, 20.0}, 100.0),
            "frames: 5, median 30.00 ms, p99 40.00 ms, 40.0 fps\n");
  EXPECT_EQ(FrameReport(1, {}, 0.0), "frames: 1\n");
}

TEST(RunStatsTest, StartUpLineGivesEachStepsShare) {
  EXPECT_EQ(StartUpReport(200.0, {{"window and GL context", 50.0}, {"image res/vorn.gif", 150.0}}),
            "start-up: 200 ms to the first show frame\n"
            "  window and GL context                50.0 ms  25.0 %\n"
            "  image res/vorn.gif                  150.0 ms  75.0 %\n");
}

}  // namespace
