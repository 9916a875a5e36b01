// The edit history: a request is one step, undo gives back the file byte for
// byte, and a save from outside is a step that names the keys it changed.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "show/ShowTable.h"
#include "studio/EditHistory.h"
#include "studio/TrackTextTestSupport.h"

namespace {

using studio_test::Load;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  lines.push_back(text.substr(start));
  return lines;
}

// How many lines of a went out and of b came in, the rest being the same.
std::pair<std::size_t, std::size_t> LinesChanged(const std::string& a, const std::string& b) {
  const std::vector<std::string> x = Lines(a), y = Lines(b);
  std::size_t head = 0, tail = 0;
  while (head < x.size() && head < y.size() && x[head] == y[head]) ++head;
  while (tail < x.size() - head && tail < y.size() - head && x[x.size() - 1 - tail] == y[y.size() - 1 - tail]) ++tail;
  return {x.size() - head - tail, y.size() - head - tail};
}

std::string BundledShow() {
  std::ifstream in(std::string(DEMO_SOURCE_DIR) + "/res/src/show.tracks", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(EditHistory, EveryEditUndoesToTheSameBytes) {
  const struct {
    const char* name;
    std::string text;
    std::size_t every;  // every how many keys get edited
  } layouts[] = {
      {"the bundled show", BundledShow(), 9},
      {"tabs", "track back.x\n\t0\t1.5\tlinear\n\t\t40\t-2\tstep\t# tab comment\n", 1},
      {"comments and odd spacing",
       "  # lead\ntrack   back.y   # header\n 0    1e-3  smooth#tight\n\n   80 -2.50  ramp   \n  90 7 3 # three\n", 1},
      {"CRLF", "track back.r\r\n  0 1 step\r\n\r\n  10 0.5 linear # c\r\ntrack back.g\r\n  5 1 step\r\n", 1},
      {"no final newline", "track back.g\n0 1 step\n5 2 linear", 1},
      {"tempo and marks among the keys", "tempo 120\ntrack back.b\n 0 1 step\nmark 0:16 verse\n 20 2 step\n", 1},
  };
  for (const auto& layout : layouts) {
    ASSERT_FALSE(layout.text.empty()) << layout.name;
    const TrackTextModel original = Load(layout.text);
    ASSERT_EQ(original.Text(), layout.text) << layout.name;
    std::size_t seen = 0;
    for (const TrackSource& track : original.Tracks()) {
      for (std::size_t k = 0; k < track.keys.size(); ++k) {
        if (seen++ % layout.every != 0 && k + 1 != track.keys.size()) continue;
        const TrackKey& key = track.keys[k];
        const bool rowFree = k + 1 == track.keys.size() || track.keys[k + 1].row > key.row + 1;
        const struct {
          TextEdit edit;
          std::pair<std::size_t, std::size_t> lines;  // out, in
        } edits[] = {
            {SetKeyEdit{track.name, key.row, key.value + 1.0f, (key.kind + 1) % 4}, {1, 1}},
            {DeleteKeyEdit{track.name, key.row}, {1, 0}},
            {SetKeyEdit{track.name, key.row + 1, 0.1f, {}}, {0, 1}},
            {ShiftRowsEdit{key.row, 7}, {0, 0}},
            {ShiftRowsEdit{key.row, -1}, {0, 0}},
        };
        for (const auto& e : edits) {
          const bool insert = std::holds_alternative<SetKeyEdit>(e.edit) && std::get<SetKeyEdit>(e.edit).row != key.row;
          if (insert && !rowFree) continue;
          EditHistory history(original);
          std::string why;
          ASSERT_TRUE(history.Apply({e.edit}, why)) << layout.name << ": " << why;
          const std::string edited = history.Model().Text();
          ASSERT_NE(edited, layout.text) << layout.name << " " << track.name << " " << key.row;
          if (e.lines.first + e.lines.second > 0) {
            EXPECT_EQ(LinesChanged(layout.text, edited), e.lines) << layout.name << "\n" << edited;
          }
          ASSERT_TRUE(history.Undo());
          ASSERT_EQ(history.Model().Text(), layout.text) << layout.name << " " << track.name << " " << key.row;
          ASSERT_TRUE(history.Redo());
          ASSERT_EQ(history.Model().Text(), edited) << layout.name;
        }
      }
    }
  }
}

TEST(EditHistory, ARequestIsOneStepOrNothing) {
  EditHistory history(Load("track back.x\n 0 1 step\n"));
  const std::string start = history.Model().Text();
  std::string why;
  EXPECT_FALSE(history.Apply({SetKeyEdit{"back.x", 5, 2.0f, {}}, SetKeyEdit{"back.q", 5, 2.0f, {}}}, why));
  EXPECT_EQ(why.rfind("edit 1: track 'back.q'", 0), 0u) << why;
  EXPECT_EQ(history.Model().Text(), start);
  EXPECT_EQ(history.Version(), 1u);
  EXPECT_FALSE(history.CanUndo());

  ASSERT_TRUE(history.Apply({SetKeyEdit{"back.x", 5, 2.0f, {}}, SetKeyEdit{"back.x", 9, 3.0f, {}}}, why));
  EXPECT_EQ(history.Version(), 2u);
  ASSERT_TRUE(history.Apply({SetKeyEdit{"back.x", 9, 3.0f, {}}}, why)) << "a request that changes nothing";
  EXPECT_EQ(history.Version(), 2u);
  ASSERT_TRUE(history.Undo());
  EXPECT_EQ(history.Model().Text(), start) << "both keys go at once";
  EXPECT_EQ(history.Version(), 3u) << "an undo is a change like any other";
  ASSERT_TRUE(history.Apply({DeleteKeyEdit{"back.x", 0}}, why));
  EXPECT_FALSE(history.CanRedo()) << "a new step forgets what was undone";
}

TEST(EditHistory, KeepsTheLastThousandSteps) {
  EditHistory history(Load("track back.x\n 0 0 step\n"));
  std::string why;
  std::string afterFifth;
  for (int i = 1; i <= int(EditHistory::MostSteps) + 5; ++i) {
    ASSERT_TRUE(history.Apply({SetKeyEdit{"back.x", 0, float(i), {}}}, why));
    if (i == 5) afterFifth = history.Model().Text();
  }
  for (std::size_t i = 0; i < EditHistory::MostSteps; ++i) ASSERT_TRUE(history.Undo()) << i;
  EXPECT_FALSE(history.Undo());
  EXPECT_EQ(history.Model().Text(), afterFifth);
  EXPECT_EQ(history.Version(), 1 + 2 * EditHistory::MostSteps + 5);
}

TEST(EditHistory, ASaveFromOutsideIsAStepThatNamesTheKeysItChanged) {
  const std::string base = "track back.x\n 0 1 step\n 10 2 linear\ntrack back.y\n 0 5 step\n";
  const struct {
    const char* name;
    std::string saved;
    std::vector<KeyPlace> changed;
  } cases[] = {
      {"a value", "track back.x\n 0 1 step\n 10 2.5 linear\ntrack back.y\n 0 5 step\n", {{"back.x", 10}}},
      {"a kind", "track back.x\n 0 1 step\n 10 2 smooth\ntrack back.y\n 0 5 step\n", {{"back.x", 10}}},
      {"a key moved", "track back.x\n 0 1 step\n 12 2 linear\ntrack back.y\n 0 5 step\n",
       {{"back.x", 10}, {"back.x", 12}}},
      {"a track gone, one new", "track back.x\n 0 1 step\n 10 2 linear\ntrack control\n 3 1 step\n",
       {{"back.y", 0}, {"control", 3}}},
      {"only a comment", "# new\ntrack back.x\n 0 1 step\n 10 2 linear\ntrack back.y\n 0 5 step\n", {}},
      {"the same value written otherwise", "track back.x\n 0 1.0 0\n 10 2 linear\ntrack back.y\n 0 5 step\n", {}},
  };
  for (const auto& c : cases) {
    EditHistory history(Load(base));
    std::vector<TrackTextError> errors;
    std::vector<KeyPlace> changed;
    ASSERT_TRUE(history.TakeText(c.saved, errors, &changed)) << c.name;
    EXPECT_EQ(changed, c.changed) << c.name;
    EXPECT_EQ(history.Model().Text(), c.saved) << c.name;
    EXPECT_EQ(history.Version(), 2u) << c.name;
    ASSERT_TRUE(history.Undo()) << c.name;
    EXPECT_EQ(history.Model().Text(), base) << c.name;
  }

  EditHistory history(Load(base));
  std::vector<TrackTextError> errors;
  EXPECT_FALSE(history.TakeText("track back.x\n 0 1 wobble\n", errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0].line, 2);
  EXPECT_EQ(history.Model().Text(), base);
  EXPECT_EQ(history.Version(), 1u);
  EXPECT_TRUE(history.TakeText(base, errors)) << "the text it has";
  EXPECT_EQ(history.Version(), 1u);
}

}  // namespace
