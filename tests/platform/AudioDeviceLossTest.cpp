// The audio service when its output goes away under a playing show, and its
// scrubbing grains: failures are injected where the backend meets the device
// (a failing write, a failing position query, a removed device, a device that
// stops taking audio), and the position a show reads is followed every few
// milliseconds across them. It must not go back, not jump by more than a
// frame or two, and go on at a second a second.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "platform/Audio.h"
#include "platform/AudioTesting.h"

namespace {

const char* const Music = DEMO_SOURCE_DIR "/res/Quelf - Tavoy Rip.mp3";
// Two 60 Hz frames.
constexpr double LargestJumpSeconds = 0.034;

using Steady = std::chrono::steady_clock;
// How often a lost device is looked for again here.
constexpr double RetryForTests = 0.25;

double Position(uint32_t stream) { return AudioBytesToSeconds(stream, AudioPositionBytes(stream)); }

struct Course {
  double first = 0, last = 0;
  double largestJump = 0;  // how much a step outran the time between two reads
  double largestBack = 0;
  double longestRead = 0;  // the slowest single reading, in seconds
  double elapsed = 0;
  double advanced() const { return last - first; }
};

// Reads the position every 2 ms for `seconds`.
Course Follow(uint32_t stream, double seconds) {
  Course course;
  const Steady::time_point start = Steady::now();
  Steady::time_point then = start;
  course.first = course.last = Position(stream);
  while (course.elapsed < seconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    // The time after the reading: a call that takes long must not count as
    // a jump of the position.
    const Steady::time_point before = Steady::now();
    const double position = Position(stream);
    const Steady::time_point now = Steady::now();
    course.longestRead = std::max(course.longestRead, std::chrono::duration<double>(now - before).count());
    const double dt = std::chrono::duration<double>(now - then).count();
    course.largestJump = std::max(course.largestJump, position - course.last - dt);
    course.largestBack = std::max(course.largestBack, course.last - position);
    course.last = position;
    then = now;
    course.elapsed = std::chrono::duration<double>(now - start).count();
  }
  return course;
}

int Lines(const std::string& text, const std::string& with) {
  int n = 0;
  for (size_t at = text.find(with); at != std::string::npos; at = text.find(with, at + 1)) ++n;
  return n;
}

class AudioDeviceLossTest : public testing::Test {
 protected:
  void SetUp() override {
    SetAudioStandInDevice(true);
    SetAudioDeviceRetrySeconds(RetryForTests);
    if (!AudioOpenOutput(44100)) GTEST_SKIP() << "no output device, not even a stand-in";
    stream_ = AudioOpenStream(Music);
    AudioStartOutput();
  }
  void TearDown() override {
    InjectAudioDeviceFault(AudioDeviceFault::None);
    SetAudioDeviceOpenFails(false);
    SetAudioDeviceRetrySeconds(-1.0);
    SetAudioDeviceOpenDelaySeconds(0.0);
    ShutdownAudio();
    SetAudioStandInDevice(false);
  }
  uint32_t stream_ = 0;
};

TEST_F(AudioDeviceLossTest, TheClockCarriesOnAcrossTheLossAndTheReturn) {
  struct Case {
    const char* name;
    AudioDeviceFault fault;
    double hold;  // how long the position may stand before the loss is seen
  };
  const Case cases[] = {
      {"a write that fails", AudioDeviceFault::WriteFails, 0.1},
      {"a position query that fails", AudioDeviceFault::PositionFails, 0.1},
      {"a removed device", AudioDeviceFault::Removed, 0.1},
      // Nothing fails: the device is given up once it has taken nothing for a second.
      {"a device that stops taking audio", AudioDeviceFault::StopsPulling, 1.2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioPlayFrom(stream_, 10.0);
    Follow(stream_, 0.4);
    ASSERT_FALSE(AudioDeviceLost());

    SetAudioDeviceOpenFails(true);
    testing::internal::CaptureStderr();
    InjectAudioDeviceFault(c.fault);
    const Course lost = Follow(stream_, c.hold + 0.6);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(AudioDeviceLost());
    EXPECT_EQ(Lines(said, "\n"), 1) << said;  // retries that fail say nothing
    EXPECT_EQ(Lines(said, "went away"), 1) << said;
    EXPECT_EQ(lost.largestBack, 0.0);
    EXPECT_LE(lost.largestJump, LargestJumpSeconds);
    EXPECT_GE(lost.advanced(), lost.elapsed - c.hold - 0.05);
    EXPECT_LE(lost.advanced(), lost.elapsed + 0.05);

    // A device again: the music comes back where the clock stands.
    InjectAudioDeviceFault(AudioDeviceFault::None);
    SetAudioDeviceOpenFails(false);
    const Course back = Follow(stream_, 0.7);
    EXPECT_FALSE(AudioDeviceLost());
    EXPECT_EQ(back.largestBack, 0.0);
    EXPECT_LE(back.largestJump, LargestJumpSeconds);
    // The first buffers from the new device take a moment to be heard, and
    // a device thread on a loaded machine may play slow for a while: what
    // must not happen is a clock that stands still or crawls once it is back.
    EXPECT_GE(back.advanced(), 0.6 * (back.elapsed - 0.2));
    EXPECT_LE(back.advanced(), back.elapsed + 0.05);
  }
}

// Looking for a device again must not hold the reader of the position (the
// frame thread) while the driver takes its time, whether it then finds one
// or not: every reading stays quick and the clock runs on meanwhile.
TEST_F(AudioDeviceLossTest, SlowOpensNeverHoldTheReader) {
#ifdef _WIN32
  GTEST_SKIP() << "opening is not slowed on Windows";
#endif
  constexpr double OpenDelay = 0.5;
  constexpr double QuickRead = 0.1;  // generous for a loaded machine, well under the delay
  struct Case {
    const char* name;
    double failingFor;  // how long the opens find no device (0: none fails)
  };
  const Case cases[] = {
      {"a slow open that finds the device", 0.0},
      {"slow opens that find none, then one that finds it", 1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AudioPlayFrom(stream_, 10.0);
    Follow(stream_, 0.3);
    ASSERT_FALSE(AudioDeviceLost());
    SetAudioDeviceOpenDelaySeconds(OpenDelay);
    SetAudioDeviceOpenFails(c.failingFor > 0.0);
    testing::internal::CaptureStderr();
    InjectAudioDeviceFault(AudioDeviceFault::Removed);
    Course none;
    if (c.failingFor > 0.0) {
      none = Follow(stream_, c.failingFor);
      EXPECT_TRUE(AudioDeviceLost());
      SetAudioDeviceOpenFails(false);
    }
    // Long enough for an attempt begun just before to end and another to run.
    const Course found = Follow(stream_, RetryForTests + 2 * OpenDelay + 0.2);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(AudioDeviceLost());
    EXPECT_EQ(Lines(said, "went away"), 1) << said;
    EXPECT_EQ(Lines(said, "there again"), 1) << said;
    const Course* const courses[] = {&none, &found};
    for (const Course* course : courses) {
      if (course->elapsed == 0.0) continue;
      EXPECT_LT(course->longestRead, QuickRead);
      EXPECT_EQ(course->largestBack, 0.0);
      EXPECT_LE(course->largestJump, LargestJumpSeconds);
      EXPECT_LE(course->advanced(), course->elapsed + 0.05);
    }
    // Silent while no device is there: the clock alone, at a second a second.
    if (c.failingFor > 0.0) {
      EXPECT_GE(none.advanced(), none.elapsed - 0.15);
    }
    EXPECT_GE(found.advanced(), 0.6 * (found.elapsed - 0.2));

    // The music plays on the device found, from where the clock stood.
    SetAudioDeviceOpenDelaySeconds(0.0);
    const Course back = Follow(stream_, 0.5);
    EXPECT_FALSE(AudioDeviceLost());
    EXPECT_EQ(back.largestBack, 0.0);
    EXPECT_GE(back.advanced(), 0.6 * (back.elapsed - 0.2));
    EXPECT_LE(back.advanced(), back.elapsed + 0.05);
  }
}

// An attempt that hangs in the driver does not hold the service's end: the
// wait is cut short, the attempt joined, and the service starts afresh.
TEST_F(AudioDeviceLossTest, ShuttingDownDuringASlowOpenEndsAtOnce) {
#ifdef _WIN32
  GTEST_SKIP() << "opening is not slowed on Windows";
#endif
  AudioPlayFrom(stream_, 3.0);
  SetAudioDeviceOpenDelaySeconds(30.0);
  testing::internal::CaptureStderr();
  InjectAudioDeviceFault(AudioDeviceFault::Removed);
  const Course lost = Follow(stream_, RetryForTests + 0.3);  // an attempt is under way
  testing::internal::GetCapturedStderr();
  EXPECT_TRUE(AudioDeviceLost());
  EXPECT_LT(lost.longestRead, 0.1);
  const Steady::time_point start = Steady::now();
  ShutdownAudio();
  EXPECT_LT(std::chrono::duration<double>(Steady::now() - start).count(), 2.0);
  EXPECT_FALSE(AudioDeviceLost());

  SetAudioDeviceOpenDelaySeconds(0.0);
  InjectAudioDeviceFault(AudioDeviceFault::None);
  ASSERT_TRUE(AudioOpenOutput(44100));
  stream_ = AudioOpenStream(Music);
  AudioStartOutput();
  AudioPlayFrom(stream_, 3.0);
  const Course again = Follow(stream_, 0.4);
  EXPECT_FALSE(AudioDeviceLost());
  EXPECT_GT(again.last, 3.0);
}

TEST_F(AudioDeviceLossTest, PauseSeekAndResumeWorkWhileTheDeviceIsGone) {
  AudioPlayFrom(stream_, 5.0);
  Follow(stream_, 0.2);
  SetAudioDeviceOpenFails(true);
  testing::internal::CaptureStderr();
  InjectAudioDeviceFault(AudioDeviceFault::Removed);
  Follow(stream_, 0.1);
  testing::internal::GetCapturedStderr();
  ASSERT_TRUE(AudioDeviceLost());

  AudioSeek(stream_, 30.0);
  EXPECT_NEAR(Position(stream_), 30.0, 0.01);
  AudioPause(stream_);
  const double held = Position(stream_);
  AudioPlayGrain(stream_, 60.0, 0.08);  // nothing to hear it on: nothing moves
  EXPECT_EQ(Follow(stream_, 0.3).last, held);

  // The device returns while paused: still held, and the music resumes there.
  InjectAudioDeviceFault(AudioDeviceFault::None);
  SetAudioDeviceOpenFails(false);
  const Course paused = Follow(stream_, 0.5);
  EXPECT_FALSE(AudioDeviceLost());
  EXPECT_EQ(paused.last, held);
  AudioResume(stream_);
  const Course resumed = Follow(stream_, 0.5);
  // From the held place on, never ahead of the time played (how soon the
  // device is heard depends on the machine's load).
  EXPECT_GE(resumed.first, held);
  EXPECT_GT(resumed.last, held);
  EXPECT_LE(resumed.last, held + resumed.elapsed + 0.05);
  EXPECT_EQ(resumed.largestBack, 0.0);
}

TEST_F(AudioDeviceLossTest, AGrainLeavesThePausedPositionWhereItIs) {
  AudioPlayFrom(stream_, 20.0);
  Follow(stream_, 0.2);
  AudioPause(stream_);
  const double held = Position(stream_);
  struct Case {
    const char* name;
    double seekTo;  // < 0: no seek before the grain
    double grainFrom;
    double grainPlays;  // where it plays from (-1: the music's end)
  };
  const Case cases[] = {
      {"a grain ahead", -1.0, 50.0, 50.0},
      {"a grain behind", -1.0, 2.0, 2.0},
      {"a grain at a seek", 40.0, 40.0, 40.0},
      {"a grain before the start", -1.0, -3.0, 0.0},
      {"a grain past the end", -1.0, 1e6, -1.0},
  };
  double expected = held;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.seekTo >= 0.0) {
      AudioSeek(stream_, c.seekTo);
      expected = c.seekTo;
    }
    AudioPlayGrain(stream_, c.grainFrom, 0.08);
    AudioPlayGrain(stream_, c.grainFrom, 0.08);  // a second replaces the first
    const Course grain = Follow(stream_, 0.25);
    if (c.grainPlays >= 0.0) {
      EXPECT_DOUBLE_EQ(AudioLastGrainSeconds(), c.grainPlays);
    } else {
      EXPECT_GT(AudioLastGrainSeconds(), 60.0);  // the music's length, whatever it is
      EXPECT_LT(AudioLastGrainSeconds(), 1e6);
    }
    EXPECT_EQ(grain.first, expected);
    EXPECT_EQ(grain.last, expected);
  }
  // Playing goes on from the paused place, not from where the grain ended.
  AudioResume(stream_);
  const Course resumed = Follow(stream_, 0.4);
  EXPECT_GE(resumed.first, expected);
  EXPECT_GT(resumed.last, expected);
  EXPECT_LE(resumed.last, expected + resumed.elapsed + 0.05);

  // A silent stream takes grains without a sound or a move.
  const uint32_t silent = AudioOpenStream(DEMO_SOURCE_DIR "/res/no such music.mp3");
  AudioPlayFrom(silent, 3.0);
  AudioPause(silent);
  AudioPlayGrain(silent, 10.0, 0.08);
  EXPECT_EQ(AudioLastGrainSeconds(), -1.0);
  const Course still = Follow(silent, 0.1);
  EXPECT_NEAR(still.first, 3.0, 0.01);
  EXPECT_EQ(still.last, still.first);
}

}  // namespace
