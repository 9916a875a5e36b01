// The studio's text model: an edit rewrites only the lines it touches and
// writes them in the layout around them; what it refuses leaves the text be.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "studio/TrackTextModel.h"
#include "studio/TrackTextTestSupport.h"

namespace {

using studio_test::Load;
using studio_test::Set;

TEST(TrackTextModel, EditsKeepTheLayoutAroundThem) {
  const std::string twoKeys = "# head\n\ntrack back.x\n  0      0          smooth\n  40     1.5        linear  # up\n";
  const struct {
    const char* name;
    std::string text;
    std::vector<TextEdit> edits;
    std::string expected;
  } cases[] = {
      {"value in its column", twoKeys, {Set("back.x", 0, 0.1f)},
       "# head\n\ntrack back.x\n  0      0.1        smooth\n  40     1.5        linear  # up\n"},
      {"a longer value pushes the kind one space on", twoKeys, {Set("back.x", 0, -1234567.9f)},
       "# head\n\ntrack back.x\n  0      -1234567.9 smooth\n  40     1.5        linear  # up\n"},
      {"kind before a comment keeps the comment's column", twoKeys, {Set("back.x", 40, {}, KindRamp)},
       "# head\n\ntrack back.x\n  0      0          smooth\n  40     1.5        ramp    # up\n"},
      {"a kind without a name is its number", twoKeys, {Set("back.x", 40, {}, -7)},
       "# head\n\ntrack back.x\n  0      0          smooth\n  40     1.5        -7      # up\n"},
      {"the same value written otherwise is left alone", "track back.x\n0 1.50 1\n", {Set("back.x", 0, 1.5f, 1)},
       "track back.x\n0 1.50 1\n"},
      {"tabs stay tabs", "track back.y\n\t0\t1\tstep\n", {Set("back.y", 0, 22.5f), Set("back.y", 5, 3.0f)},
       "track back.y\n\t0\t22.5\tstep\n\t5\t3\tstep\n"},
      {"a new key between two takes the kind before it", twoKeys, {Set("back.x", 20, 0.75f)},
       "# head\n\ntrack back.x\n  0      0          smooth\n  20     0.75       smooth\n  40     1.5        linear  # up\n"},
      {"a new first key goes before the first, as a step", twoKeys, {Set("back.x", -10, 2.0f)},
       "# head\n\ntrack back.x\n  -10    2          step\n  0      0          smooth\n  40     1.5        linear  # up\n"},
      {"a track without keys copies a key line above it", "track a\n    5  1  step\ntrack back.r\n# r\n",
       {Set("back.r", 1, 1.0f, KindLinear)}, "track a\n    5  1  step\ntrack back.r\n    1  1  linear\n# r\n"},
      {"a new track goes last, set off like the others", twoKeys + "\n# end\n", {Set("control", 2640, 777.0f)},
       twoKeys + "\n# end\n\ntrack control\n  2640   777        step\n"},
      {"the first track of an empty text", "", {Set("back.n", 0, 3.0f)}, "track back.n\n  0           3                step\n"},
      {"CRLF stays CRLF", "track back.x\r\n  0 1 step\r\n", {Set("back.x", 9, 2.0f), Set("back.x", 0, 4.0f)},
       "track back.x\r\n  0 4 step\r\n  9 2 step\r\n"},
      {"no final newline, key added last", "track back.x\n 0 1 step", {Set("back.x", 3, 2.0f)},
       "track back.x\n 0 1 step\n 3 2 step"},
      {"no final newline, last key deleted", "track back.x\n 0 1 step\n 3 2 step", {DeleteKeyEdit{"back.x", 3}},
       "track back.x\n 0 1 step"},
      {"a key goes with its comment", twoKeys, {DeleteKeyEdit{"back.x", 40}},
       "# head\n\ntrack back.x\n  0      0          smooth\n"},
      {"rows pushed on from a row", "track back.x\n 0   1 step\n 10  2 step\n 20  3 step\ntrack control\n 15  1 step\n",
       {ShiftRowsEdit{10, 95}}, "track back.x\n 0   1 step\n 105 2 step\n 115 3 step\ntrack control\n 110 1 step\n"},
      {"rows taken out with their keys", "track back.x\n 0   1 step\n 10  2 step\n 20  3 step\ntrack control\n 15  1 step\n",
       {ShiftRowsEdit{10, -10}}, "track back.x\n 0   1 step\n 10  3 step\ntrack control\n"},
      {"first tempo before the first track, keeping its blank line", twoKeys,
       {SetTemposEdit{{{120, 0}, {128, 1290}}}},
       "# head\n\ntempo 120\ntempo 128 at 1:04.5\n\ntrack back.x\n  0      0          smooth\n  40     1.5        linear  # up\n"},
      {"tempos rewritten in place, the rest dropped", "tempo 100 at 0:10  # x\ntempo 90 at 20\ntrack back.x\n",
       {SetTemposEdit{{{100, 200}}}, SetTemposEdit{{{99.5, 0}}}}, "tempo 99.5  # x\ntrack back.x\n"},
      {"marks after the tempo, in time order", "tempo 120\n\ntrack back.x\n",
       {AddMarkEdit{320, "verse"}, AddMarkEdit{1291, "drop it"}, AddMarkEdit{0, "start"}, DeleteMarkEdit{320, "verse"}},
       "tempo 120\nmark 0:00 start\nmark 1:04.55 drop it\n\ntrack back.x\n"},
  };
  for (const auto& c : cases) {
    TrackTextModel model = Load(c.text);
    for (const TextEdit& edit : c.edits) {
      std::string why;
      ASSERT_TRUE(model.Apply(edit, why)) << c.name << ": " << why;
    }
    EXPECT_EQ(model.Text(), c.expected) << c.name;
  }
}

TEST(TrackTextModel, RefusalsLeaveTheTextAsItWas) {
  const std::string text = "tempo 120 at 10\nmark 5 intro\ntrack back.x\n  0 1 step\n  2147483000 1 step\n";
  const struct {
    TextEdit edit;
    const char* reason;  // a piece of it
  } cases[] = {
      {Set("back.z", 0, 1.0f), "none of the show's tracks (back.n, back.x,"},
      {DeleteKeyEdit{"lamp", 0}, "none of the show's tracks"},
      {Set("back.x", 0, NAN), "not a finite number"},
      {Set("back.x", 5, -INFINITY), "not a finite number"},
      {Set("back.x", 0, {}, 128), "out of range"},
      {Set("back.x", 1, {}, KindLinear), "a new key needs a value"},
      {DeleteKeyEdit{"back.x", 1}, "no key at row 1"},
      {ShiftRowsEdit{1, 1000}, "past the last row"},
      {SetTemposEdit{{{120, 100}, {130, 100}}}, "does not follow"},
      {SetTemposEdit{{{0, 0}}}, "above 0"},
      {SetTemposEdit{{{120, -1}}}, "not a time on the timeline"},
      {AddMarkEdit{10, "a # b"}, "without '#'"},
      {AddMarkEdit{10, " padded"}, "without blanks"},
      {AddMarkEdit{1e30, "far"}, "not a time on the timeline"},
      {AddMarkEdit{NAN, "never"}, "not a time on the timeline"},
      {DeleteMarkEdit{5, "outro"}, "no mark 'outro'"},
  };
  TrackTextModel model = Load(text);
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(model.Apply(c.edit, why)) << c.reason;
    EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    EXPECT_EQ(model.Text(), text) << c.reason;
  }
}

TEST(TrackTextModel, WrittenNumbersReadBackExactly) {
  const struct {
    float value;
    const char* text;
  } values[] = {{0.1f, "0.1"}, {1.0f / 3.0f, "0.33333334"}, {-0.0f, "-0"}, {16777216.0f, "16777216"}, {3e-8f, "3e-08"}};
  for (const auto& v : values) EXPECT_EQ(TrackTextModel::ValueText(v.value), v.text);
  const struct {
    double row;
    const char* text;
  } times[] = {{0, "0:00"}, {320, "0:16"}, {1290, "1:04.5"}, {2401, "2:00.05"}, {0.021, "r0.021"}, {0.3, "0:00.015"}, {1e8, "r100000000"}};
  for (const auto& t : times) EXPECT_EQ(TrackTextModel::TimeText(t.row), t.text);
}

}  // namespace
