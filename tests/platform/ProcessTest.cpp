// The process's age as the system records it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point StaticsSetUp = Clock::now();

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

TEST(ProcessTest, AgeRunsFromBeforeTheStaticsAndKeepsPaceWithTheClock) {
  const double before = MsSinceProcessStart();
  const double sinceStatics = MsSince(StaticsSetUp);
  // The system's record is to its clock tick (10 ms on Linux, up to 16 ms on
  // Windows); loading the libraries takes well under ten seconds.
  EXPECT_GE(before, sinceStatics - 20.0);
  EXPECT_LT(before, sinceStatics + 10000.0);

  const Clock::time_point start = Clock::now();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const double after = MsSinceProcessStart();
  const double slept = MsSince(start);
  EXPECT_NEAR(after - before, slept, 25.0);
}

}  // namespace
