// The music clock on the audio layer, under SDL's dummy audio driver, which
// consumes audio in real time. Tone files are made with sox and lame.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "SyncTestSupport.h"
#include "platform/Audio.h"
#include "sync/MusicClock.h"
#include "sync/Tracks.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// A sine tone of the given length as an mp3 at the given rate and channels.
std::string MakeToneMp3(const ScratchDir& dir, const std::string& name, int rate, int channels, double seconds) {
  const std::string wav = dir / (name + ".wav");
  const std::string mp3 = dir / name;
  const std::string command = "sox -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                              " -b 16 '" + wav + "' synth " + std::to_string(seconds) +
                              " sine 440 vol 0.5 && lame --quiet '" + wav + "' '" + mp3 + "'";
  if (std::system(command.c_str()) != 0) ADD_FAILURE() << "cannot make a test tone: " << command;
  return mp3;
}

// Each reading of the row is bracketed by two readings of the wall clock
// (seconds since the sampling began), so that a thread held up between them
// on a loaded machine widens the bracket instead of skewing the measure.
struct Samples {
  double firstBefore = -1, firstAfter = 0, firstRow = 0;
  double lastBefore = 0, lastAfter = 0, lastRow = 0;
  double largestBackStep = 0;
};

// Reads CurrentRow about every millisecond for a while; the pace is measured
// from `settle` seconds on, once the device has filled its buffers.
Samples SampleRows(double duration, double settle) {
  Samples s;
  const Clock::time_point start = Clock::now();
  double previous = CurrentRow();
  for (double before = 0; before < duration; before = SecondsSince(start)) {
    const double row = CurrentRow();
    const double after = SecondsSince(start);
    s.largestBackStep = std::max(s.largestBackStep, previous - row);
    previous = row;
    if (before >= settle && s.firstBefore < 0) {
      s.firstBefore = before;
      s.firstAfter = after;
      s.firstRow = row;
    }
    s.lastBefore = before;
    s.lastAfter = after;
    s.lastRow = row;
    Sleep(0.001);
  }
  return s;
}

// The music's pace is 20 rows a second. The clock must never run ahead of it
// by more than the smoothing's small lead; it may fall behind only as far as
// a device thread starved by a loaded machine lets it, which is far less than
// the half or double pace of a clock that mistakes the stream's rate or
// channels.
constexpr double MaxRowsPerSecond = 22.0;
constexpr double MinRowsPerSecond = 13.0;

void ExpectMusicPace(const Samples& s) {
  const double rows = s.lastRow - s.firstRow;
  // The longest and the shortest the time between the two readings can be.
  const double longest = s.lastAfter - s.firstBefore;
  const double shortest = s.lastBefore - s.firstAfter;
  EXPECT_LE(rows / longest, MaxRowsPerSecond) << "ahead of the music: " << rows << " rows in " << longest << " s";
  EXPECT_GE(rows / shortest, MinRowsPerSecond) << "behind the music: " << rows << " rows in " << shortest << " s";
}

// Just after a jump to `row` at `jumped` the clock reads that row, or a little
// past it if it has gone on since.
void ExpectJustAfterJump(double row, Clock::time_point jumped) {
  const double read = CurrentRow();
  const double since = SecondsSince(jumped);
  EXPECT_GE(read, row - 0.01);
  EXPECT_LE(read, row + 0.01 + MaxRowsPerSecond * since) << since << " s after the jump";
}

// Polls `done` until it holds or `seconds` of wall-clock time have passed: a
// loaded machine delays the audio thread, which may slow the rows but must
// not stop them.
template <typename Done>
bool WaitFor(Done done, double seconds = 15.0) {
  const Clock::time_point deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                        std::chrono::duration<double>(seconds));
  while (!done()) {
    if (Clock::now() >= deadline) return false;
    Sleep(0.01);
  }
  return true;
}

bool WaitForRowPast(double row) {
  const bool reached = WaitFor([&] { return CurrentRow() > row; });
  EXPECT_TRUE(reached) << "the clock stayed at row " << CurrentRow() << ", not past " << row << ", for 15 s";
  return reached;
}

// Waits until the clock has passed `atLeast` and then held still for half a
// second (the end of the music), and returns the row where it rests.
double WaitForTheEnd(double atLeast) {
  double rest = -1.0;
  const bool ended = WaitFor([&] {
    const double row = CurrentRow();
    if (row < atLeast) return false;
    Sleep(0.5);
    if (CurrentRow() != row) return false;
    rest = row;
    return true;
  });
  EXPECT_TRUE(ended) << "the clock did not come to rest past row " << atLeast << " within 15 s; it reads "
                     << CurrentRow();
  return rest >= 0.0 ? rest : CurrentRow();
}

class MusicClockTest : public testing::Test {
 protected:
  // The dummy driver is chosen here rather than trusted to the environment:
  // these tests mean a device that consumes audio in real time.
  void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
  void TearDown() override {
    ShutdownAudio();
    MusicStream = 0;
    DestroyTrackSet(CurrentTrackSet());
    setenv("SDL_AUDIODRIVER", "dummy", 1);
  }
  ScratchDir dir_;
};

struct ToneFormat {
  int rate;
  int channels;
};

void PrintTo(const ToneFormat& format, std::ostream* out) {
  *out << format.rate << " Hz, " << format.channels << " channel(s)";
}

class MusicClockFormatTest : public MusicClockTest, public testing::WithParamInterface<ToneFormat> {};

TEST_P(MusicClockFormatTest, RowsAdvanceTwentyPerSecondOfMusic) {
  const ToneFormat format = GetParam();
  const std::string mp3 = MakeToneMp3(dir_, "tone.mp3", format.rate, format.channels, 3.0);
  ASSERT_TRUE(AudioOpenOutput(44100));
  MusicStream = AudioOpenStream(mp3.c_str());
  ASSERT_NE(MusicStream, 0u);
  // Bytes count the file's own decoded samples: 16 bits per channel.
  EXPECT_DOUBLE_EQ(AudioBytesToSeconds(MusicStream, uint64_t(format.rate) * format.channels * 2), 1.0);

  Sleep(0.1);
  EXPECT_EQ(CurrentRow(), 0.0) << "before the output starts";
  AudioStartOutput();
  Sleep(0.15);
  EXPECT_EQ(CurrentRow(), 0.0) << "output running, stream not yet playing";

  StartMusicPlayback();
  const Samples s = SampleRows(2.0, 0.3);
  EXPECT_EQ(s.largestBackStep, 0.0);
  ExpectMusicPace(s);
}

INSTANTIATE_TEST_SUITE_P(Formats, MusicClockFormatTest,
                         testing::Values(ToneFormat{22050, 1}, ToneFormat{48000, 2}, ToneFormat{44100, 2}),
                         [](const testing::TestParamInfo<ToneFormat>& info) {
                           return std::to_string(info.param.rate) + "Hz" + std::to_string(info.param.channels) + "ch";
                         });

// One second of tone comes back from the encoder with up to about 0.1 s of
// delay and padding around it.
constexpr double OneSecondToneMinRows = 20.0;
constexpr double OneSecondToneMaxRows = 22.1;

// Plays a one-second tone to its end and returns the row where it stays.
double PlayToTheEnd(const std::string& mp3) {
  MusicStream = AudioOpenStream(mp3.c_str());
  StartMusicPlayback();
  const Samples s = SampleRows(1.0, 0.0);
  EXPECT_EQ(s.largestBackStep, 0.0);
  return WaitForTheEnd(OneSecondToneMinRows);
}

TEST_F(MusicClockTest, PositionStaysAtTheEndOfTheMusic) {
  const std::string mp3 = MakeToneMp3(dir_, "short.mp3", 22050, 1, 1.0);
  ASSERT_TRUE(AudioOpenOutput(44100));
  const double played = PlayToTheEnd(mp3);
  EXPECT_GE(played, OneSecondToneMinRows);
  EXPECT_LE(played, OneSecondToneMaxRows);
  ShutdownAudio();

  // Without a device the clock stops at the length the decoder reports for the
  // file; played through the device, every decoded frame is heard, so the two
  // ends agree to well within a millisecond.
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(AudioOpenOutput(44100));
  testing::internal::GetCapturedStderr();
  const double counted = PlayToTheEnd(mp3);
  EXPECT_NEAR(played, counted, 0.01);
}

TEST_F(MusicClockTest, WithoutADeviceTheMusicRunsSilentlyOnTheClock) {
  const std::string mp3 = MakeToneMp3(dir_, "short.mp3", 22050, 1, 1.0);
  setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(AudioOpenOutput(44100));
  MusicStream = AudioOpenStream(mp3.c_str());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_NE(err.find("silently"), std::string::npos) << err;
  ASSERT_NE(MusicStream, 0u);

  Sleep(0.1);
  EXPECT_EQ(CurrentRow(), 0.0);
  StartMusicPlayback();
  const Samples s = SampleRows(0.8, 0.1);
  EXPECT_EQ(s.largestBackStep, 0.0);
  ExpectMusicPace(s);
  // The file's length is known without decoding it: the clock stops there.
  const double end = WaitForTheEnd(OneSecondToneMinRows);
  EXPECT_LE(end, OneSecondToneMaxRows);
}

// Working on a show moves about in the music: every jump lands exactly where
// it was asked to, the clock holds still while paused, and between two jumps
// it is monotonic and runs at 20 rows per second. With a device and without.
TEST_F(MusicClockTest, StartPartWaySeekPauseAndResume) {
  const std::string mp3 = MakeToneMp3(dir_, "tone.mp3", 22050, 1, 3.0);
  for (const bool device : {true, false}) {
    SCOPED_TRACE(device ? "with a device" : "silent");
    if (!device) setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(AudioOpenOutput(44100), device);
    MusicStream = AudioOpenStream(mp3.c_str());
    testing::internal::GetCapturedStderr();

    Clock::time_point jumped = Clock::now();
    StartMusicPlayback(20.0);
    ExpectJustAfterJump(20.0, jumped);  // started part-way
    // The pace is measured once, over the longest stretch; a loaded machine
    // makes short stretches too uneven to judge it by.
    Samples s = SampleRows(0.8, 0.3);
    EXPECT_EQ(s.largestBackStep, 0.0);
    EXPECT_GE(s.firstRow, 20.0);
    ExpectMusicPace(s);

    AudioPause(MusicStream);
    const double paused = CurrentRow();
    Sleep(0.3);
    EXPECT_EQ(CurrentRow(), paused) << "the clock moved while paused";
    jumped = Clock::now();
    AudioResume(MusicStream);
    s = SampleRows(0.5, 0.2);
    EXPECT_EQ(s.largestBackStep, 0.0);
    EXPECT_GE(s.firstRow, paused);
    EXPECT_LE(s.firstRow, paused + 0.01 + MaxRowsPerSecond * SecondsSince(jumped)) << "resumed somewhere else";
    EXPECT_GT(s.lastRow, s.firstRow);

    jumped = Clock::now();
    AudioSeek(MusicStream, 0.25);  // backwards, while playing
    ExpectJustAfterJump(5.0, jumped);
    s = SampleRows(0.5, 0.2);
    EXPECT_EQ(s.largestBackStep, 0.0);
    EXPECT_GT(s.lastRow, s.firstRow);
    EXPECT_LE(s.lastRow, 5.01 + MaxRowsPerSecond * SecondsSince(jumped)) << "did not go back";

    AudioPause(MusicStream);
    AudioSeek(MusicStream, 2.0);  // while paused: lands there and stays
    EXPECT_NEAR(CurrentRow(), 40.0, 0.01);
    Sleep(0.2);
    EXPECT_NEAR(CurrentRow(), 40.0, 0.01);
    AudioResume(MusicStream);
    s = SampleRows(0.4, 0.2);
    EXPECT_GE(s.firstRow, 40.0);
    EXPECT_GT(s.lastRow, s.firstRow) << "did not resume";

    AudioSeek(MusicStream, 100.0);  // past the end: at the end, and no further
    const double end = CurrentRow();
    EXPECT_GE(end, 60.0);
    EXPECT_LE(end, 62.1);
    Sleep(0.2);
    EXPECT_EQ(CurrentRow(), end);
    ShutdownAudio();
  }
}

TEST_F(MusicClockTest, AMissingOrBrokenFileRunsSilentlyOnTheClock) {
  WriteText(dir_ / "broken.mp3", "this is not audio\n");
  WriteText(dir_ / "empty.mp3", "");
  std::string noise(200000, '\0');
  uint32_t seed = 12345;
  for (char& c : noise) c = char((seed = seed * 1103515245u + 12345u) >> 24);
  WriteText(dir_ / "noise.mp3", noise);
  for (const std::string& path : {dir_ / "missing.mp3", dir_ / "broken.mp3", dir_ / "empty.mp3",
                                  dir_ / "noise.mp3"}) {
    ASSERT_TRUE(AudioOpenOutput(44100));
    testing::internal::CaptureStderr();
    MusicStream = AudioOpenStream(path.c_str());
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find(path), std::string::npos) << err;
    ASSERT_NE(MusicStream, 0u);
    EXPECT_EQ(CurrentRow(), 0.0);
    StartMusicPlayback();
    SCOPED_TRACE(path);
    const Samples s = SampleRows(0.6, 0.1);
    EXPECT_EQ(s.largestBackStep, 0.0);
    ExpectMusicPace(s);
    ShutdownAudio();
  }
}

TEST_F(MusicClockTest, AFileCutShortPlaysWhatItHoldsThenTheRestSilently) {
  // Two seconds announced by the encoder's tag, about one left after the cut.
  const std::string whole = MakeToneMp3(dir_, "whole.mp3", 44100, 2, 2.0);
  const std::string cut = dir_ / "cut.mp3";
  std::vector<uint8_t> bytes = ReadFileBytes(whole);
  bytes.resize(bytes.size() / 2);
  WriteFile(cut, bytes);
  ASSERT_TRUE(AudioOpenOutput(44100));
  testing::internal::CaptureStderr();
  MusicStream = AudioOpenStream(cut.c_str());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(err.rfind("demo: music: " + cut + ": damaged after ", 0), 0u) << err;
  StartMusicPlayback();
  // Past the cut (about 20 rows) the clock goes on up to the two seconds
  // announced, and stops there.
  EXPECT_NEAR(WaitForTheEnd(38.5), 40.0, 1.5) << "the clock stopped at the cut, or went on past the end";
  ShutdownAudio();
}

TEST_F(MusicClockTest, StartUpOpensTheMusicAndRegistersTheFourteenTracks) {
  std::filesystem::create_directory(dir_.path() / "res");
  MakeToneMp3(dir_, "res/Quelf - Tavoy Rip.mp3", 44100, 2, 1.0);
  std::vector<uint8_t> control;
  PutInt32(control, 2);
  PutKey(control, 0, 0.0f, KindStep);
  PutKey(control, 40, 777.0f, KindStep);
  WriteFile(dir_ / "res/steak_control.track", control);

  WorkingDir in(dir_.path());
  InitMusicAndTracks();
  ASSERT_NE(MusicStream, 0u);
  const TrackSet* set = CurrentTrackSet();
  ASSERT_NE(set, nullptr);
  EXPECT_STREQ(set->baseName, "sync");
  const char* const names[] = {"back.n",    "back.x",    "back.y",   "back.r",   "back.g",
                               "back.b",    "back.scale", "back.rotx", "back.roty", "back.rotz",
                               "scroll.x",  "scroll.y",   "scroll.r", "control"};
  ASSERT_EQ(set->trackCount, 14);
  for (int i = 0; i < 14; ++i) {
    EXPECT_EQ(set->tracks[i], FrameTrackHandles[i]) << i;
    EXPECT_STREQ(set->tracks[i]->name, names[i]);
  }
  const Track* controlTrack = set->tracks[13];
  EXPECT_EQ(controlTrack->keyCount, 2);
  EXPECT_EQ(set->tracks[1]->keyCount, 0);
  EXPECT_EQ(TrackValue(controlTrack, 45.0), 777.0f);

  EXPECT_EQ(CurrentRow(), 0.0);
  StartMusicPlayback();
  WaitForRowPast(5.0);
}

TEST_F(MusicClockTest, TheProcessEndsCleanlyWhileTheMusicPlays) {
  // The demo ends with exit(0) from the middle of a frame, the device's thread
  // still pulling audio: the exit-time shutdown must stop it before anything
  // it uses is torn down.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string mp3 = MakeToneMp3(dir_, "tone.mp3", 48000, 2, 3.0);
  EXPECT_EXIT(
      {
        AudioOpenOutput(44100);
        MusicStream = AudioOpenStream(mp3.c_str());
        StartMusicPlayback();
        if (!WaitFor([] { return CurrentRow() > 0.0; })) std::exit(3);
        Sleep(0.1);
        std::exit(0);
      },
      testing::ExitedWithCode(0), "");
}

TEST_F(MusicClockTest, AReplacedOrShutDownStreamReportsNothing) {
  const std::string mp3 = MakeToneMp3(dir_, "tone.mp3", 22050, 1, 1.0);
  ASSERT_TRUE(AudioOpenOutput(44100));
  const uint32_t first = AudioOpenStream(mp3.c_str());
  AudioStartOutput();
  AudioPlayFromStart(first);
  EXPECT_TRUE(WaitFor([&] { return AudioPositionBytes(first) > 0; })) << "the stream did not play for 15 s";

  const uint32_t second = AudioOpenStream(mp3.c_str());
  EXPECT_NE(second, first);
  EXPECT_EQ(AudioPositionBytes(first), 0u);
  EXPECT_EQ(AudioPositionBytes(second), 0u);  // not playing yet

  ShutdownAudio();
  EXPECT_EQ(AudioPositionBytes(second), 0u);
  ShutdownAudio();  // a second shutdown is harmless

  // The service starts again from scratch.
  ASSERT_TRUE(AudioOpenOutput(44100));
  MusicStream = AudioOpenStream(mp3.c_str());
  EXPECT_NE(MusicStream, second);
  StartMusicPlayback();
  WaitForRowPast(2.0);
}

}  // namespace
