// demotool's track commands, run in process.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "ShowLint.h"
#include "render/FramePlan.h"
#include "show/ShowTable.h"
#include "sync/SyncTestSupport.h"
#include "sync/TrackFile.h"

namespace {

struct CommandResult {
  int status;
  std::string out;
  std::string err;
};

CommandResult RunTrack(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = RunTrackCommand(int(args.size()), argv.data());
  std::fflush(stdout);
  CommandResult r{status, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
  return r;
}

const char* const Show =
    "# a small show\n"
    "track back.x\n"
    "  0      0.0    linear\n"
    "  40     1.5    smooth   # ease in\n"
    "  80    -2      step\n"
    "  90     0.1    ramp\n"
    "  95     3      9\n"
    "track control\n"
    "  0      0      step\n"
    "  1200   777    step\n";

TEST(TrackCommandTest, BuildThenDumpThenBuildGivesTheSameBytes) {
  ScratchDir dir;
  WriteText(dir / "show.txt", Show);
  CommandResult built = RunTrack({"build", dir / "show.txt", dir / "out"});
  ASSERT_EQ(built.status, 0) << built.err;

  const std::vector<uint8_t> backX = ReadFileBytes(dir / "out/steak_back.x.track");
  const std::vector<uint8_t> control = ReadFileBytes(dir / "out/steak_control.track");
  ASSERT_EQ(backX.size(), 4u + 5 * 9);
  std::vector<uint8_t> expectedControl;
  PutInt32(expectedControl, 2);
  PutKey(expectedControl, 0, 0.0f, 0);
  PutKey(expectedControl, 1200, 777.0f, 0);
  EXPECT_EQ(control, expectedControl);

  // Dump each file and build the dumps into a second folder.
  std::string text;
  for (const char* name : {"steak_back.x.track", "steak_control.track"}) {
    CommandResult dumped = RunTrack({"dump", dir / (std::string("out/") + name)});
    ASSERT_EQ(dumped.status, 0) << dumped.err;
    // The odd kind is kept, and pointed out.
    const bool odd = std::string(name) == "steak_back.x.track";
    EXPECT_EQ(dumped.err.find("key 4: unknown kind 9") != std::string::npos, odd) << dumped.err;
    text += dumped.out;
  }
  EXPECT_NE(text.find("track back.x\n"), std::string::npos) << text;
  EXPECT_NE(text.find("smooth"), std::string::npos) << text;
  WriteText(dir / "again.txt", text);
  built = RunTrack({"build", dir / "again.txt", dir / "again"});
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_EQ(ReadFileBytes(dir / "again/steak_back.x.track"), backX);
  EXPECT_EQ(ReadFileBytes(dir / "again/steak_control.track"), control);
}

TEST(TrackCommandTest, BuildWithErrorsWritesNothing) {
  ScratchDir dir;
  WriteText(dir / "bad.txt", "track a\n 0 1 step\ntrack b\n 5 1 step\n 5 2 linear\n 6 x step\n");
  const CommandResult r = RunTrack({"build", dir / "bad.txt", dir / "out"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("bad.txt:5:"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("bad.txt:6:"), std::string::npos) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "out"));
}

// A folder built from a text plays what `demo --edit` plays with that text:
// a stale file of a track the text leaves out must not survive the build.
TEST(TrackCommandTest, BuildWritesEveryTrackOfTheShow) {
  ScratchDir dir;
  WriteText(dir / "show.txt", Show);
  std::vector<uint8_t> stale;
  PutInt32(stale, 1);
  PutKey(stale, 0, 3.0f, KindStep);
  std::filesystem::create_directories(dir.path() / "out");
  WriteFile(dir / "out/steak_back.y.track", stale);

  const CommandResult r = RunTrack({"build", dir / "show.txt", dir / "out"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<uint8_t> noKeys = {0, 0, 0, 0};
  for (const FrameTrack& track : FrameTracks) {
    SCOPED_TRACE(track.name);
    const std::vector<uint8_t> bytes = ReadFileBytes(dir / ("out/" + TrackFileName(track.name)));
    const bool named = std::string(track.name) == "back.x" || std::string(track.name) == "control";
    if (named) EXPECT_GT(bytes.size(), noKeys.size());
    else EXPECT_EQ(bytes, noKeys);
  }
  // One line names the twelve tracks filled without keys.
  EXPECT_NE(r.err.find("leaves out 12 of the show's tracks"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("back.n, back.y, back.r"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
}

TEST(TrackCommandTest, BuildRefusesATrackTheShowDoesNotHave) {
  struct Case {
    const char* name;
    const char* offered;  // what the message suggests instead
  };
  const Case cases[] = {
      {"back.rotzz", "did you mean back.rotz?"},
      {"Control", "did you mean control?"},
      {"back.q", "did you mean back.n, back.x, back.y, back.r, back.g or back.b?"},
      {"scrol.y", "did you mean scroll.y?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    WriteText(dir / "show.txt", std::string("track control\n 0 5 step\ntrack ") + c.name + "\n 0 1 step\n");
    const CommandResult r = RunTrack({"build", dir / "show.txt", dir / "out"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("show.txt:3: track '" + std::string(c.name) + "' is none of the show's tracks"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(c.offered), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "out")) << "nothing may be written";
  }
}

// Keys the demo plays without a word but nobody writes on purpose are named
// with their key and row; they are warnings, so the status stays 0.
TEST(TrackCommandTest, CheckWarnsOfKeysTheShowSurelyDidNotMean) {
  struct Case {
    const char* file;
    std::vector<TrackKey> keys;
    const char* warning;  // null: none expected
  };
  const Case cases[] = {
      {"steak_control.track", {{0, 7, KindLinear}, {40, 777, KindStep}},
       "key 0 (row 0): warning: linear key: the code slides from 7 to 777 by row 40"},
      {"steak_control.track", {{0, 1, KindStep}, {10, 1, KindSmooth}, {20, 3, KindStep}},
       "key 1 (row 10): warning: smooth key: the code slides from 1 to 3"},
      {"steak_control.track", {{0, 5, KindStep}, {40, 12, KindStep}},
       "key 1 (row 40): warning: control code 12 is none the show knows"},
      // 0 draws no plane and starts the bundled show; the last key's kind
      // never interpolates; a slide within one code changes nothing.
      {"steak_control.track", {{0, 0, KindStep}, {10, 11, KindStep}, {20, 777, KindRamp}}, nullptr},
      {"steak_control.track", {{0, 3, KindLinear}, {10, 3.5f, KindStep}}, nullptr},
      {"steak_back.n.track", {{0, 2.5f, KindStep}}, "key 0 (row 0): warning: 2.5 is not a whole number"},
      {"steak_back.n.track", {{0, 1, KindStep}, {30, 7, KindStep}}, "key 1 (row 30): warning: slot 7 holds no image"},
      {"steak_back.n.track", {{0, 0, KindStep}, {30, 6, KindLinear}}, nullptr},
      {"steak_back.x.track", {{0, 2.5f, KindLinear}, {30, 777, KindStep}}, nullptr},
      {"steak_back.rotzz.track", {{0, 1, KindStep}},
       "warning: the show reads no track 'back.rotzz', so never this file; did you mean back.rotz?"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    const std::vector<uint8_t> bytes = EncodeTrackFile(c.keys.data(), int32_t(c.keys.size()));
    WriteFile(dir / c.file, bytes);
    const CommandResult r = RunTrack({"check", dir / c.file});
    SCOPED_TRACE(r.out);
    EXPECT_EQ(r.status, 0);
    if (c.warning) EXPECT_NE(r.out.find(std::string(c.file) + ": " + c.warning), std::string::npos);
    else EXPECT_EQ(r.out.find("warning"), std::string::npos);
  }
}

// The Windows tool is built without the render code, so the lint keeps its
// own idea of the known codes: it must be the render code's.
TEST(TrackCommandTest, KnownControlCodesAreTheOnesTheFrameDraws) {
  for (int32_t code = -3; code <= EndOfShowCode + 3; ++code) {
    const bool drawsOrEnds =
        code == 0 || code == EndOfShowCode || PlaneForControlCode(code).routine != PlaneRoutine::None;
    EXPECT_EQ(IsKnownControlCode(code), drawsOrEnds) << code;
  }
}

TEST(TrackCommandTest, EvalUsesTheDemosArithmetic) {
  ScratchDir dir;
  std::vector<uint8_t> bytes;
  PutInt32(bytes, 2);
  PutKey(bytes, 10, 1.0f, KindLinear);
  PutKey(bytes, 20, 2.0f, KindStep);
  WriteFile(dir / "t.track", bytes);
  const CommandResult r = RunTrack({"eval", dir / "t.track", "15.5", "9.99", "20", "-1e300"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "1.54999995\n1\n2\n1\n");
}

TEST(TrackCommandTest, CheckNamesEachProblemAndItsKey) {
  ScratchDir dir;
  std::vector<uint8_t> good;
  PutInt32(good, 1);
  PutKey(good, 0, 1.0f, KindStep);
  WriteFile(dir / "good.track", good);

  std::vector<uint8_t> bad;
  PutInt32(bad, 3);
  PutKey(bad, 0, 1.0f, 5);
  PutKey(bad, 0, 1.0f, KindStep);
  WriteFile(dir / "bad.track", bad);

  CommandResult r = RunTrack({"check", dir / "good.track"});
  EXPECT_EQ(r.status, 0) << r.out;
  r = RunTrack({"check", dir / "good.track", dir / "bad.track"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("bad.track: key 0: unknown kind 5"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("bad.track: key 1: row 0 does not follow"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("bad.track: key 2: count is 3"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("good.track: key"), std::string::npos) << r.out;
}

TEST(TrackCommandTest, RejectsBadArgumentsAndUnreadableFiles) {
  ScratchDir dir;
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"build", dir / "missing.txt", dir / "out"},
      {"build", "only-one"},
      {"dump"},
      {"dump", dir / "missing.track"},
      {"dump", dir.path().string()},
      {"eval", dir / "missing.track", "1"},
      {"eval", dir / "missing.track"},
      {"eval", dir / "missing.track", "one"},
      {"check"},
      {"check", dir / "missing.track"},
  };
  for (const auto& args : cases) {
    const CommandResult r = RunTrack(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.status, 2) << joined;
    EXPECT_FALSE(r.err.empty()) << joined;
  }
  EXPECT_EQ(RunTrack({"--help"}).status, 0);
}

}  // namespace
