// demotool beats: the grid found in click tracks made here and in the bundled
// music (both must stay on the beat to the end), the tempo line put into
// track text, and refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "beats/Beats.h"
#include "sync/SyncTestSupport.h"
#include "tools/ToolRunner.h"

namespace fs = std::filesystem;

namespace {

constexpr long Rate = 44100;
const std::string BundledMusic = std::string(DEMO_SOURCE_DIR) + "/res/Quelf - Tavoy Rip.mp3";

// The tolerances a grid is held to: its tempo within 0.2 %, and its first beat
// within 20 ms; the tests also hold its last beat to the 20 ms.
constexpr double TempoTolerance = 0.002;
constexpr double BeatTolerance = 0.020;

// Deterministic noise, the same on every machine.
struct Noise {
  uint32_t state = 12345;
  float Next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<float>(state >> 8) / 8388608.0f - 1.0f;
  }
};

// A drum machine in a few lines: a low thump on every beat, and, when asked,
// a hat of noise on every off-beat and sixteenth, the way music fills the
// spaces between beats.
std::vector<float> ClickTrack(double bpm, double firstBeat, double seconds, bool fillBetween) {
  std::vector<float> samples(static_cast<std::size_t>(seconds * Rate));
  Noise noise;
  auto add = [&](double at, double length, float gain, bool thump) {
    const std::size_t start = static_cast<std::size_t>(std::lround(at * Rate));
    for (std::size_t i = 0; i < static_cast<std::size_t>(length * Rate) && start + i < samples.size(); ++i) {
      const double t = static_cast<double>(i) / Rate;
      const double wave = thump ? std::sin(6.283185307179586 * 90.0 * t) : noise.Next();
      samples[start + i] += gain * static_cast<float>(wave * std::exp(-t / (length / 4)));
    }
  };
  const double beat = 60.0 / bpm;
  for (double t = firstBeat; t < seconds; t += beat) {
    add(t, 0.12, 0.8f, true);
    if (!fillBetween) continue;
    for (int sixteenth = 1; sixteenth < 4; ++sixteenth) add(t + sixteenth * beat / 4, 0.03, 0.25f, false);
  }
  return samples;
}

TEST(BeatsTest, ClickTracksGiveTheirTempoAndFirstBeat) {
  const struct {
    double bpm, firstBeat, seconds;
    bool fillBetween;
    double expectFirst;  // the earliest beat at or after the start
  } cases[] = {
      {97.3, 0.35, 40, false, 0.35},
      {141.0, 0.35, 40, false, 0.35},
      {120.0, 0.35, 40, true, 0.35},  // the beat, not the hats between
      {174.0, 0.2, 30, true, 0.2},
      {100.0, 1.0, 40, false, 0.4},  // a beat before the first click, in the silence
      {64.0, 0.05, 40, false, 0.05},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bpm << " BPM from " << c.firstBeat << " s" << (c.fillBetween ? ", filled" : ""));
    const std::vector<float> samples = ClickTrack(c.bpm, c.firstBeat, c.seconds, c.fillBetween);
    BeatGrid grid;
    std::string error;
    ASSERT_TRUE(FindBeats(samples.data(), samples.size(), Rate, grid, error)) << error;
    EXPECT_NEAR(grid.bpm, c.bpm, c.bpm * TempoTolerance);
    EXPECT_NEAR(grid.firstBeat, c.expectFirst, BeatTolerance);
    // The last beat too: a tempo within tolerance can still drift off.
    const std::vector<double> beats = BeatTimes(grid, c.seconds);
    ASSERT_FALSE(beats.empty());
    const double period = 60.0 / c.bpm;
    const double last = c.expectFirst + std::round((beats.back() - c.expectFirst) / period) * period;
    EXPECT_NEAR(beats.back(), last, BeatTolerance);
  }
}

TEST(BeatsTest, MusicWithoutABeatIsRefusedWithTheReason) {
  const struct {
    const char* what;
    std::vector<float> samples;
    const char* says;
  } cases[] = {
      {"silence", std::vector<float>(Rate * 10, 0.0f), "silent"},
      {"two clicks", [] {
         std::vector<float> s(Rate * 10, 0.0f);
         s[Rate * 2] = s[Rate * 6] = 0.9f;
         return s;
       }(), "too few"},
      {"nothing", {}, "silent"},
  };
  for (const auto& c : cases) {
    BeatGrid grid;
    std::string error;
    EXPECT_FALSE(FindBeats(c.samples.data(), c.samples.size(), Rate, grid, error)) << c.what;
    EXPECT_NE(error.find(c.says), std::string::npos) << c.what << ": " << error;
  }
}

TEST(BeatsTest, TempoLineReplacesTheOldOneOrFollowsTheOpeningComments) {
  const std::string line = "tempo 120.00 at 0.000";
  const struct {
    const char* what;
    std::string text, expected;
  } cases[] = {
      {"replaced in place", "# show\ntrack a\n0 1 step\ntempo 98.5 at 1.2\ntrack b\n",
       "# show\ntrack a\n0 1 step\ntempo 120.00 at 0.000\ntrack b\n"},
      {"later ones dropped", "tempo 90\n# x\ntempo 91 at 2\n  tempo\t92\n", "tempo 120.00 at 0.000\n# x\n"},
      {"after the opening comments", "# my show\n  # by me\n\ntrack a\n# not this one\n",
       "# my show\n  # by me\ntempo 120.00 at 0.000\n\ntrack a\n# not this one\n"},
      {"no comments: at the top", "track a\n0 1 step\n", "tempo 120.00 at 0.000\ntrack a\n0 1 step\n"},
      {"blank lines before a comment", "\n\n# c\ntrack a\n", "\n\n# c\ntempo 120.00 at 0.000\ntrack a\n"},
      {"CRLF kept", "# c\r\ntrack a\r\n", "# c\r\ntempo 120.00 at 0.000\r\ntrack a\r\n"},
      {"CRLF tempo replaced", "tempo 1\r\ntrack a\r\n", "tempo 120.00 at 0.000\r\ntrack a\r\n"},
      {"unterminated comment", "# only", "# only\ntempo 120.00 at 0.000\n"},
      {"unterminated tempo", "track a\ntempo 3", "track a\ntempo 120.00 at 0.000"},
      {"empty text", "", "tempo 120.00 at 0.000\n"},
      {"words that only start with tempo", "tempos 1\ntrack tempo\n",
       "tempo 120.00 at 0.000\ntempos 1\ntrack tempo\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(SetTempoLine(c.text, line), c.expected) << c.what;
}

std::string Slurp(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// The bundled music was made at 120 BPM with bar 0 starting at sample 0
// (res/src/make_music.py places every note at bar * 2 s + beat * 0.5 s), and
// its onsets gather within 3 ms of that grid: the true first beat is 0.000 s.
TEST(BeatsCommandTest, BundledMusicStaysOnTheBeatToItsEnd) {
  const ToolRun run = RunDemotool("beats '" + BundledMusic + "'", false);
  ASSERT_EQ(run.status, 0);
  std::istringstream lines(run.output);
  std::string word;
  double bpm = 0, first = -1;
  lines >> word >> bpm;
  ASSERT_EQ(word, "tempo");
  lines >> word >> first;
  ASSERT_EQ(word, "at");
  EXPECT_NEAR(bpm, 120.0, 120.0 * TempoTolerance);
  EXPECT_NEAR(first, 0.0, BeatTolerance);
  int count = 0;
  double seconds = 0, lastSeconds = -1;
  std::string row;
  while (lines >> word >> seconds >> row) {
    ASSERT_EQ(word, "beat");
    EXPECT_NEAR(seconds, 0.5 * count, BeatTolerance) << "beat " << count;
    EXPECT_NEAR(std::stod(row.substr(1)), seconds * 20.0, 1e-6) << row;
    lastSeconds = seconds;
    ++count;
  }
  EXPECT_GE(lastSeconds, 131.5);  // to the end of its 132.1 s
}

TEST(BeatsCommandTest, WriteChangesOnlyTheTempoLineAndKeepsTheFilesMode) {
  ScratchDir dir;
  const std::string head = "# a show\r\n# second comment, CRLF as the rest\r\n";
  const std::string rest = "track control\r\n  0 5 step   # trailing  spaces  \r\n\r\n\ttrack back.x\r\n0 1.5 ramp";
  WriteText(dir / "show.tracks", head + rest);
  fs::permissions(dir / "show.tracks", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::create_symlink("show.tracks", dir.path() / "link.tracks");

  ToolRun run = RunDemotool("beats '" + BundledMusic + "' --write " + (dir / "link.tracks"), true);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string tempoLine = run.output.substr(0, run.output.find('\n'));
  ASSERT_EQ(tempoLine.rfind("tempo ", 0), 0u) << run.output;
  EXPECT_EQ(Slurp(dir / "show.tracks"), head + tempoLine + "\r\n" + rest);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "link.tracks"));
  EXPECT_EQ(fs::status(dir / "show.tracks").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);

  // Again: the text already says so and is left alone.
  run = RunDemotool("beats --write " + (dir / "show.tracks") + " '" + BundledMusic + "'", true);
  EXPECT_EQ(run.status, 0);
  EXPECT_NE(run.output.find("already holds"), std::string::npos) << run.output;
  EXPECT_EQ(Slurp(dir / "show.tracks"), head + tempoLine + "\r\n" + rest);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2) << "a temporary left behind";
}

TEST(BeatsCommandTest, RefusalsSayWhatIsWrongAndChangeNothing) {
  ScratchDir dir;
  WriteText(dir / "notes.txt", "not music at all\n");
  WriteText(dir / "show.tracks", "track control\n0 5 step\n");
  WriteFile(dir / "binary.tracks", {'t', 'r', 0, 1, 2});
  const std::string music = " '" + BundledMusic + "'";
  const struct {
    std::string args;
    int status;
    const char* says;
  } cases[] = {
      {"beats " + (dir / "missing.mp3"), 2, "cannot open"},
      {"beats " + (dir / "notes.txt"), 1, "not an mp3"},
      {"beats " + dir.path().string(), 2, "folder"},
      {"beats" + music + " --write " + (dir / "missing.tracks"), 2, "cannot open"},
      {"beats" + music + " --write " + (dir / "binary.tracks"), 2, "not track text"},
      {"beats" + music + " --write", 2, "--write needs"},
      {"beats" + music + " --bpm 120", 2, "unknown option"},
      {"beats" + music + music, 2, "unexpected argument"},
      {"beats", 2, "usage:"},
  };
  for (const auto& c : cases) {
    const ToolRun run = RunDemotool(c.args, true);
    EXPECT_EQ(run.status, c.status) << c.args << "\n" << run.output;
    EXPECT_NE(run.output.find(c.says), std::string::npos) << c.args << "\n" << run.output;
  }
  EXPECT_EQ(Slurp(dir / "show.tracks"), "track control\n0 5 step\n");
  EXPECT_EQ(ReadFileBytes(dir / "binary.tracks"), (std::vector<uint8_t>{'t', 'r', 0, 1, 2}));
  EXPECT_EQ(RunDemotool("beats --help", false).status, 0);
}

}  // namespace
