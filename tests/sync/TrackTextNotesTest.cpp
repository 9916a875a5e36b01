// The studio's tempo and mark lines: playback skips them without losing the
// track they stand in, and the compiler still points out a mistyped one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "sync/TrackText.h"

namespace {

TEST(TrackTextNotes, ReadsTemposAndMarksAndKeepsTheTrackGoing) {
  const std::string text =
      "tempo 120\n"
      "mark 0:16 the verse  # comment\n"
      "track back.x\n"
      "  0 1 step\n"
      "tempo 128.5 at 1:04.5\n"
      "mark r1300\tdrop\t\r\n"
      "  40 2 linear\n"
      "tempo 140.00 at 100.013\n";  // as demotool beats writes it
  std::vector<TrackTextError> errors;
  TrackTextNotes notes;
  const std::vector<TrackSource> tracks = ParseTrackText(text, errors, &notes);
  ASSERT_TRUE(errors.empty()) << errors[0].line << ": " << errors[0].message;
  ASSERT_EQ(tracks.size(), 1u);
  ASSERT_EQ(tracks[0].keys.size(), 2u) << "a key after a tempo line still belongs to its track";
  EXPECT_EQ(tracks[0].keys[1].row, 40);

  const struct {
    double bpm, row;
    int line;
  } tempos[] = {{120, 0, 1}, {128.5, 1290, 5}, {140, 2000.26, 8}};
  ASSERT_EQ(notes.tempos.size(), std::size(tempos));
  for (size_t i = 0; i < notes.tempos.size(); ++i) {
    EXPECT_EQ(notes.tempos[i].bpm, tempos[i].bpm) << i;
    EXPECT_DOUBLE_EQ(notes.tempos[i].row, tempos[i].row) << i;
    EXPECT_EQ(notes.tempos[i].line, tempos[i].line) << i;
  }
  ASSERT_EQ(notes.marks.size(), 2u);
  EXPECT_EQ(notes.marks[0].name, "the verse");
  EXPECT_EQ(notes.marks[0].row, 320);
  EXPECT_EQ(notes.marks[1].name, "drop");
  EXPECT_EQ(notes.marks[1].row, 1300);
  EXPECT_EQ(notes.marks[1].line, 6);
}

TEST(TrackTextNotes, MistypedLinesAreErrorsOnTheirLine) {
  const struct {
    const char* text;
    const char* message;  // a piece of it
  } cases[] = {
      {"tempo\n", "expected tempo BPM"},
      {"tempo 120 at\n", "expected tempo BPM"},
      {"tempo 120 from 1:00\n", "expected tempo BPM"},
      {"tempo 120 at 1:00 now\n", "expected tempo BPM"},
      {"tempo 0\n", "bad tempo '0'"},
      {"tempo -120\n", "bad tempo"},
      {"tempo 1e2\n", "bad tempo"},
      {"tempo inf\n", "bad tempo"},
      {"tempo 1.2.0\n", "bad tempo"},
      {"tempo 120 at 1:5\n", "bad time '1:5'"},
      {"tempo 120 at -3\n", "bad time"},
      {"tempo 120 at r\n", "bad time"},
      {"tempo 120 at 10\ntempo 100 at r200\n", "does not follow"},
      {"tempo 120\ntempo 130\n", "does not follow"},
      {"mark\n", "expected mark TIME NAME"},
      {"mark 1:00   # the name is a comment\n", "expected mark TIME NAME"},
      {"mark soon chorus\n", "bad time 'soon'"},
  };
  for (const auto& c : cases) {
    std::vector<TrackTextError> errors;
    ParseTrackText(std::string("# first line\n") + c.text, errors);
    ASSERT_EQ(errors.size(), 1u) << c.text;
    EXPECT_NE(errors[0].message.find(c.message), std::string::npos) << c.text << ": " << errors[0].message;
    const int lines = int(std::count(c.text, c.text + std::strlen(c.text), '\n'));
    EXPECT_EQ(errors[0].line, lines + 1) << c.text;
  }
}

}  // namespace
