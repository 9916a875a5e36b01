// The studio's model of a show's track text. The text stays the show: the
// model holds it byte for byte, knows which line holds each key, tempo and
// mark, and applies an edit by rewriting only the lines it touches. Comments,
// blank lines, the order of tracks, tabs, CRLF line ends and a missing final
// newline all stay as the show maker wrote them.
//
// What the model says the keys are is what the track text compiler
// (sync/TrackText.h) makes of its current text, the compiler `demo --edit`
// plays with, so the studio and the demo never disagree.
//
// Layout of what an edit writes (docs/studio-text.md):
// - a new key goes in row order within its track, after the key before it
//   (before the first key when there is none), with the indentation, column
//   positions and line end of a neighbouring key line;
// - a new track goes after the last line of the text: `track NAME`, then its key;
// - a rewritten word keeps the next word (or the comment) in its column while
//   the gap before it is made of spaces and there is room;
// - a value is the shortest text that reads back as the same float (0.1 is
//   written 0.1); a kind is its name, or the number for any other kind;
// - times of tempo and mark lines read m:ss.ss when that gives the exact
//   row back, rROW otherwise.
//
// A model is a plain value: copy it, change the copy, keep whichever you
// like. It is not safe to use one model from two threads at once.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sync/TrackText.h"

// Sets the key of track at row: its value, its kind or both (a field left
// out keeps what it was). Without a key at that row one is added, which needs
// a value; its kind, when left out, is that of the key before it in the
// track (step when there is none).
struct SetKeyEdit {
  std::string track;
  int32_t row = 0;
  std::optional<float> value;
  std::optional<int32_t> kind;  // KindStep... or any number from -128 to 127
};

// Removes the key of track at row, with its line.
struct DeleteKeyEdit {
  std::string track;
  int32_t row = 0;
};

// Inserts `by` rows at row `from` in every track: keys at or after from move
// by `by`. A negative `by` removes rows from .. from-by-1 and the keys on
// them; later keys move up. Tempo and mark lines stay: they describe the
// music, which does not move.
struct ShiftRowsEdit {
  int32_t from = 0;
  int32_t by = 0;
};

// Replaces the tempo list (bpm and row of each; line is not read). Rows must
// rise; the first one may be 0, which writes a line without "at".
struct SetTemposEdit {
  std::vector<TrackTempo> tempos;
};

// Adds a bookmark named name at row. The name is one line of text without
// '#' and without blanks at either end.
struct AddMarkEdit {
  double row = 0.0;
  std::string name;
};

// Removes the bookmark with exactly this row and name.
struct DeleteMarkEdit {
  double row = 0.0;
  std::string name;
};

using TextEdit = std::variant<SetKeyEdit, DeleteKeyEdit, ShiftRowsEdit, SetTemposEdit, AddMarkEdit, DeleteMarkEdit>;

class TrackTextModel {
 public:
  // The model of an empty text: no tracks, no tempo, no marks.
  TrackTextModel();

  // The model of text, or nothing, with the compiler's errors, when the text
  // does not compile. A text with a track name the show does not use is
  // taken (the demo leaves such a track out); edits to that track are not.
  static std::optional<TrackTextModel> FromText(std::string text, std::vector<TrackTextError>& errors);

  const std::string& Text() const { return text_; }
  // The compiled tracks in the order of the text, keys ascending by row.
  const std::vector<TrackSource>& Tracks() const { return tracks_; }
  // The compiled track of that name, or null when the text has none.
  const TrackSource* FindTrack(std::string_view name) const;
  const std::vector<TrackTempo>& Tempos() const { return notes_.tempos; }
  const std::vector<TrackMark>& Marks() const { return notes_.marks; }

  // Applies one edit. Refused (false, the model unchanged, why says why):
  // a track name the show does not use, a value that is not finite, a kind
  // out of range, a key or mark that is not there, rows pushed past the
  // int32 range, tempos out of order. An edit that changes nothing is true.
  bool Apply(const TextEdit& edit, std::string& why);

  // One line, for people reading a reason: "back.n, back.x, ..., control".
  static std::string ShowTrackNames();

  // The texts the model writes; exposed for the studio's page and the tests.
  static std::string ValueText(float value);
  static std::string KindText(int32_t kind);
  static std::string TimeText(double row);
  // Whether TimeText(row) reads back as row: a row from 0 to ten days of
  // music that the text can hold exactly.
  static bool IsWritableTime(double row);

 private:
  struct Line {
    std::size_t begin = 0;  // where the line starts in text_
    std::size_t end = 0;    // where its line end (\n or \r\n, or none at the end) starts
    std::size_t next = 0;   // where the next line starts
  };
  // Bytes begin..end of the text replaced by text. The splices of one edit
  // never overlap; one that only inserts goes before one that starts where
  // it inserts when it comes first in the list.
  struct Splice {
    std::size_t begin, end;
    std::string text;
  };

  bool Rebuild(std::vector<TrackTextError>& errors);
  bool Commit(std::vector<Splice> splices, std::string& why);

  bool SetKey(const SetKeyEdit& edit, std::string& why);
  bool DeleteKey(const DeleteKeyEdit& edit, std::string& why);
  bool ShiftRows(const ShiftRowsEdit& edit, std::string& why);
  bool SetTempos(const SetTemposEdit& edit, std::string& why);
  bool AddMark(const AddMarkEdit& edit, std::string& why);
  bool DeleteMark(const DeleteMarkEdit& edit, std::string& why);

  std::string_view Content(int line) const;
  std::string LineEnd(int line) const;
  bool IsBlankLine(int line) const;
  // A line of text to go in at pos, with its line end.
  Splice InsertLines(std::size_t pos, const std::string& lines) const;
  std::size_t NoteBlockPlace(bool forTempo, bool& blankAfter) const;

  std::string text_;
  std::vector<Line> lines_;
  std::vector<TrackSource> tracks_;
  // Per track of tracks_: the index in lines_ of each key's line.
  std::vector<std::vector<int>> keyLines_;
  TrackTextNotes notes_;
};
