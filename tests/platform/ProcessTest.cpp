// The process's age as the system records it.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point StaticsSetUp = Clock::now();

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The system records the start to its clock tick: 10 ms on Linux, up to 16 ms
// on Windows.
constexpr double TickMs = 20.0;

// Each reading of the age is bracketed by readings of the test's own clock,
// so that a thread held up between two calls (a loaded machine) widens the
// brackets instead of failing the test; only the clock tick is allowed for.
TEST(ProcessTest, AgeRunsFromBeforeTheStaticsAndKeepsPaceWithTheClock) {
  const Clock::time_point outerStart = Clock::now();
  const double before = MsSinceProcessStart();
  const Clock::time_point innerStart = Clock::now();
  // The statics were set up after the process started, however long ago:
  // the age read after outerStart is at least the statics' age at outerStart.
  EXPECT_GE(before, MsBetween(StaticsSetUp, outerStart) - TickMs);
  // And not from some other epoch (the boot, the clock's zero): loading the
  // libraries takes well under a minute, even on a machine busy with others.
  EXPECT_LT(before, MsBetween(StaticsSetUp, innerStart) + 60000.0);

  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const Clock::time_point innerEnd = Clock::now();
  const double after = MsSinceProcessStart();
  const Clock::time_point outerEnd = Clock::now();
  // The age grows by the time between the two readings: no less than the
  // sleep between them, no more than the time around them (a clock in the
  // wrong unit, or one that stands still, misses by far more than a tick).
  EXPECT_GE(after - before, MsBetween(innerStart, innerEnd) - TickMs);
  EXPECT_LE(after - before, MsBetween(outerStart, outerEnd) + TickMs);
}

}  // namespace
