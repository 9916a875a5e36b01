// The smoothing every audio backend puts over its device's reports, driven
// by simulated devices read every millisecond: the frames a 60 Hz show sees
// must grow evenly, never go back, follow real drift and stop at the end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/AudioClock.h"

namespace {

constexpr double Rate = 44100.0;
constexpr int64_t Ms = 1000000;

// Position a device reports at time t (seconds).
using Device = std::function<double(double)>;

// Whole buffers of 1024 frames, each reported up to `jitter` seconds late,
// the lateness varying from buffer to buffer.
Device Buffered(double speed, double jitter) {
  return [=](double t) {
    const double buffer = 1024.0 / Rate;
    double reported = 0.0;
    for (int n = 1; n * buffer <= t * speed + 1e-12; ++n) {
      const double late = jitter * std::fabs(std::sin(n * 12.9898));
      if (n * buffer / speed + late <= t) reported = n * 1024.0;
    }
    return reported;
  };
}

struct Readings {
  double largestStep = 0;      // frames between two readings 1 ms apart
  double largestBackStep = 0;
  double largestLag = 0;       // behind the device's true position, after settling
  double largestLead = 0;
  double last = 0;
};

Readings Sample(const Device& device, double truthSpeed, double seconds, double endFrames = -1.0) {
  SmoothedClock clock;
  clock.rate = Rate;
  Readings run;
  double previous = 0;
  for (int ms = 0; ms <= seconds * 1000; ++ms) {
    const double t = ms / 1000.0;
    const double frames = AdvanceSmoothedClock(clock, device(t), ms * Ms, endFrames);
    // The first report is taken as it is: before it the clock stays at 0.
    if (previous > 0) run.largestStep = std::max(run.largestStep, frames - previous);
    run.largestBackStep = std::max(run.largestBackStep, previous - frames);
    if (t > 0.5) {
      double truth = t * truthSpeed * Rate;
      if (endFrames >= 0) truth = std::min(truth, endFrames);
      run.largestLag = std::max(run.largestLag, truth - frames);
      run.largestLead = std::max(run.largestLead, frames - truth);
    }
    previous = frames;
  }
  run.last = previous;
  return run;
}

TEST(AudioClock, SmoothsJitterAndFollowsDrift) {
  struct Case {
    const char* name;
    Device device;
    double speed;           // the device's real rate against its nominal one
    double maxStepMs;       // largest step between readings, in ms of music
    double maxErrorMs;      // largest distance from the truth after settling
  };
  const Case cases[] = {
      // Buffers are 23 ms: unsmoothed, a reading would stall, then leap 23 ms.
      {"steady buffers", Buffered(1.0, 0.0), 1.0, 2.0, 25.0},
      {"buffers reported up to 8 ms late", Buffered(1.0, 0.008), 1.0, 2.0, 32.0},
      // A device 3 % slow is followed, not left behind by a clock that runs
      // at the nominal rate.
      {"a device 3 % slow", Buffered(0.97, 0.004), 0.97, 2.0, 32.0},
      {"a device 3 % fast", Buffered(1.03, 0.004), 1.03, 2.0, 32.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Readings run = Sample(c.device, c.speed, 4.0);
    EXPECT_EQ(run.largestBackStep, 0.0);
    EXPECT_LE(run.largestStep, c.maxStepMs * Rate / 1000.0);
    EXPECT_LE(run.largestLag, c.maxErrorMs * Rate / 1000.0);
    EXPECT_LE(run.largestLead, c.maxErrorMs * Rate / 1000.0);
  }
}

TEST(AudioClock, TakesLargeGapsAtOnceAndStopsAtTheEnd) {
  // Before the device reports anything the clock stays at 0.
  SmoothedClock clock;
  clock.rate = Rate;
  EXPECT_EQ(AdvanceSmoothedClock(clock, 0.0, 0, -1.0), 0.0);
  EXPECT_EQ(AdvanceSmoothedClock(clock, 0.0, 50 * Ms, -1.0), 0.0);

  // A device that jumps a second ahead (a stall that the driver caught up
  // with) is taken at once; one that goes back is not followed.
  EXPECT_EQ(AdvanceSmoothedClock(clock, 1024.0, 60 * Ms, -1.0), 1024.0);
  EXPECT_EQ(AdvanceSmoothedClock(clock, 1024.0 + Rate, 61 * Ms, -1.0), 1024.0 + Rate);
  EXPECT_EQ(AdvanceSmoothedClock(clock, 0.0, 62 * Ms, -1.0), 1024.0 + Rate);

  // At the end of the music the clock stops there, however it ran before.
  const double end = 2.0 * Rate;
  const Readings run = Sample(Buffered(1.0, 0.004), 1.0, 3.0, end);
  EXPECT_EQ(run.last, end);
  EXPECT_EQ(run.largestBackStep, 0.0);
  EXPECT_LE(run.largestLead, 0.0);
}

TEST(AudioClock, ALostDeviceLeavesTheClockRunningFromItsLastValue) {
  SmoothedClock running;
  running.rate = Rate;
  running.started = true;
  running.frames = 2.0 * Rate;
  running.ns = 1000 * Ms;
  SmoothedClock waiting;  // played from 3 s, nothing heard yet
  waiting.rate = Rate;
  waiting.from = 3.0 * Rate;
  const struct {
    const char* name;
    const SmoothedClock& clock;
    int64_t nowNs;
    double endFrames;
    double expected;
  } cases[] = {
      {"half a second on", running, 1500 * Ms, -1.0, 2.5 * Rate},
      {"at once", running, 1000 * Ms, -1.0, 2.0 * Rate},
      {"read before its last value", running, 900 * Ms, -1.0, 2.0 * Rate},
      {"stops at the end", running, 9000 * Ms, 2.25 * Rate, 2.25 * Rate},
      {"never back to an end before it", running, 1500 * Ms, 1.0 * Rate, 2.0 * Rate},
      {"not started: where it was put", waiting, 5000 * Ms, -1.0, 3.0 * Rate},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(CarriedOnFrames(c.clock, c.nowNs, c.endFrames), c.expected) << c.name;
}

TEST(AudioClock, AGrainFadesInAndOut) {
  const struct {
    int64_t at, total, fade;
    float gain;
  } cases[] = {
      {0, 100, 10, 0.0f},   {5, 100, 10, 0.5f},  {10, 100, 10, 1.0f}, {50, 100, 10, 1.0f},
      {99, 100, 10, 0.0f},  {94, 100, 10, 0.5f}, {-1, 100, 10, 0.0f}, {100, 100, 10, 0.0f},
      {3, 4, 10, 0.0f},     {1, 4, 10, 0.1f},    {7, 100, 0, 1.0f},
  };
  for (const auto& c : cases) {
    EXPECT_FLOAT_EQ(GrainGain(c.at, c.total, c.fade), c.gain) << c.at << " of " << c.total << ", fade " << c.fade;
  }
}

TEST(AudioClock, SilentClockAndByteConversions) {
  EXPECT_EQ(SilentClockSeconds(-1, 5 * Ms, -1.0), 0.0);  // not started
  EXPECT_DOUBLE_EQ(SilentClockSeconds(10 * Ms, 1510 * Ms, -1.0), 1.5);
  EXPECT_DOUBLE_EQ(SilentClockSeconds(10 * Ms, 9000 * Ms, 2.25), 2.25);  // stops at the length
  EXPECT_EQ(SilentClockSeconds(10 * Ms, 5 * Ms, -1.0), 0.0);           // a clock read too early

  // Whole frames only: a byte count never splits a frame of samples.
  const struct {
    double seconds;
    long rate;
    int channels;
    uint64_t bytes;
  } cases[] = {{1.0, 44100, 2, 176400}, {0.5, 22050, 1, 22050}, {1.0 / 3.0, 48000, 2, 64000},
               {0.00001, 44100, 2, 0},  {-1.0, 44100, 2, 0},    {2.5, 8000, 1, 40000}};
  for (const auto& c : cases) {
    EXPECT_EQ(MusicSecondsToBytes(c.seconds, c.rate, c.channels), c.bytes) << c.seconds << " s at " << c.rate;
  }
  EXPECT_DOUBLE_EQ(MusicBytesToSeconds(176400 * 3, 44100, 2), 3.0);
  EXPECT_DOUBLE_EQ(MusicBytesToSeconds(22050, 22050, 1), 0.5);
}

}  // namespace
