// The studio's track text model. Every edit becomes a few splices of the
// text (a line rewritten, a line put in, a line taken out); the spliced text
// is compiled again and the model rebuilt from it, so the model can never
// hold a text the demo would refuse, and the keys it reports are always the
// compiler's own.
#include "studio/TrackTextModel.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

#include "show/ShowTable.h"
#include "show/ShowTrackNames.h"
#include "sync/MusicClock.h"
#include "sync/ShowTime.h"

namespace {

constexpr std::size_t None = std::string::npos;

// ------------------------------------------------------------------------
// Words of a line, found as the compiler finds them: blanks are space, tab
// and carriage return, and the first '#' starts a comment.

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

struct Words {
  static constexpr int Kept = 4;  // tempo BPM at TIME
  struct {
    std::size_t begin, end;
  } word[Kept]{};
  int count = 0;
  std::size_t comment = None;  // where the '#' stands
  std::string_view Word(std::string_view content, int i) const {
    return content.substr(word[i].begin, word[i].end - word[i].begin);
  }
};

Words SplitWords(std::string_view content) {
  Words words;
  words.comment = content.find('#');
  const std::size_t stop = std::min(words.comment, content.size());
  std::size_t i = 0;
  while (i < stop) {
    while (i < stop && IsBlank(content[i])) ++i;
    const std::size_t begin = i;
    while (i < stop && !IsBlank(content[i])) ++i;
    if (i > begin) {
      if (words.count < Words::Kept) words.word[words.count] = {begin, i};
      ++words.count;
    }
  }
  return words;
}

bool OnlySpaces(std::string_view gap) {
  return std::all_of(gap.begin(), gap.end(), [](char c) { return c == ' '; });
}

// content with word w replaced by text. While the gap after the word is made
// of spaces, it grows or shrinks so that the next word, or the comment, stays
// in its column (one space at least between words); a gap holding a tab is
// kept as it is, since the tab does the aligning there.
std::string RewriteWord(std::string_view content, int w, std::string_view text) {
  const Words words = SplitWords(content);
  const std::size_t begin = words.word[w].begin;
  const std::size_t end = words.word[w].end;
  const std::size_t next = w + 1 < std::min(words.count, Words::Kept) ? words.word[w + 1].begin : words.comment;
  std::string out(content.substr(0, begin));
  out += text;
  if (next == None) {
    out += content.substr(end);
    return out;
  }
  const std::string_view gap = content.substr(end, next - end);
  if (OnlySpaces(gap)) {
    const std::size_t least = gap.empty() ? 0 : 1;
    const std::size_t wanted = next > out.size() ? next - out.size() : 0;
    out.append(std::max(least, wanted), ' ');
  } else {
    out += gap;
  }
  out += content.substr(next);
  return out;
}

// A new line of three or more words laid out like the line `like`: its
// indentation, and each word in the column of the same word there (the gaps
// copied where they hold a tab). The last word of `like` may be followed by
// anything; it is not copied.
std::string LineLike(std::string_view like, const std::string (&words)[3]) {
  const Words shape = SplitWords(like);
  std::string out(like.substr(0, shape.word[0].begin));
  for (int w = 0; w < 3; ++w) {
    if (w > 0) {
      const std::string_view gap = like.substr(shape.word[w - 1].end, shape.word[w].begin - shape.word[w - 1].end);
      if (OnlySpaces(gap)) {
        const std::size_t column = shape.word[w].begin;
        out.append(column > out.size() + 1 ? column - out.size() : 1, ' ');
      } else {
        out += gap;
      }
    }
    out += words[w];
  }
  return out;
}

// The layout `demotool track dump` writes, for a text that has no key line
// to copy from.
std::string DefaultKeyLine() {
  const TrackKey key{0, 0.0f, KindStep};
  const std::string text = FormatTrackText("x", &key, 1);
  const std::size_t start = text.find('\n') + 1;
  return text.substr(start, text.find('\n', start) - start);
}

std::string FixedText(double value) {
  char text[400];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  if (r.ec != std::errc()) return "?";  // out of every range the callers check
  return std::string(text, r.ptr);
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }


std::string RowName(double row) {
  char text[40];
  std::snprintf(text, sizeof text, "%.10g", row);
  return text;
}

std::string TempoLine(const TrackTempo& tempo) {
  std::string line = "tempo " + FixedText(tempo.bpm);
  if (tempo.row != 0.0) line += " at " + TrackTextModel::TimeText(tempo.row);
  return line;
}

bool SameTempo(const TrackTempo& a, const TrackTempo& b) { return a.bpm == b.bpm && a.row == b.row; }

}  // namespace

// ------------------------------------------------------------------------
// Texts the model writes

std::string TrackTextModel::ValueText(float value) {
  char text[48];
  const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
  return std::string(text, r.ptr);
}

std::string TrackTextModel::KindText(int32_t kind) {
  const char* name = TrackKindName(kind);
  return name ? name : std::to_string(kind);
}

std::string TrackTextModel::TimeText(double row) {
  // m:ss.ss reads best. The seconds are split as text, so that no
  // arithmetic rounds them; a row a twentieth of a second does not divide
  // evenly may still come back a hair off, and is then written as the row.
  if (!std::isfinite(row)) return "r?";
  if (row == 0.0) row = 0.0;  // not "-0"
  const std::string seconds = FixedText(row / RowsPerSecond);
  const std::size_t point = std::min(seconds.find('.'), seconds.size());
  if (row >= 0.0 && point <= 12) {
    const long long whole = std::stoll(seconds.substr(0, point));
    const long long secondsOfMinute = whole % 60;
    const std::string text = std::to_string(whole / 60) + (secondsOfMinute < 10 ? ":0" : ":") +
                             std::to_string(secondsOfMinute) + seconds.substr(point);
    double back = 0.0;
    if (ParseShowTime(text.c_str(), &back) && back == row) return text;
  }
  return "r" + FixedText(row);
}

bool TrackTextModel::IsWritableTime(double row) {
  double back = 0.0;
  return ParseShowTime(TimeText(row).c_str(), &back) && back == row;
}

std::string TrackTextModel::ShowTrackNames() {
  std::string names;
  for (const FrameTrack& t : FrameTracks) names += (names.empty() ? "" : ", ") + std::string(t.name);
  return names;
}

// ------------------------------------------------------------------------
// Building the model from its text

TrackTextModel::TrackTextModel() = default;

std::optional<TrackTextModel> TrackTextModel::FromText(std::string text, std::vector<TrackTextError>& errors) {
  TrackTextModel model;
  model.text_ = std::move(text);
  if (!model.Rebuild(errors)) return std::nullopt;
  return model;
}

bool TrackTextModel::Rebuild(std::vector<TrackTextError>& errors) {
  lines_.clear();
  for (std::size_t pos = 0; pos < text_.size();) {
    Line line;
    line.begin = pos;
    const std::size_t newline = text_.find('\n', pos);
    if (newline == None) {
      line.end = line.next = text_.size();
    } else {
      line.next = newline + 1;
      line.end = newline > pos && text_[newline - 1] == '\r' ? newline - 1 : newline;
    }
    lines_.push_back(line);
    pos = line.next;
  }

  errors.clear();
  notes_ = TrackTextNotes{};
  tracks_ = ParseTrackText(text_, errors, &notes_);
  if (!errors.empty()) return false;

  // With no errors every line that is not a header, tempo or mark line and
  // has a word is a key of the track above it, in order.
  keyLines_.assign(tracks_.size(), {});
  int current = -1;
  std::size_t nextTrack = 0;
  for (int i = 0; i < int(lines_.size()); ++i) {
    const std::string_view content = Content(i);
    const Words words = SplitWords(content);
    if (words.count == 0) continue;
    const std::string_view first = words.Word(content, 0);
    if (first == "tempo" || first == "mark") continue;
    if (first == "track") {
      if (nextTrack == tracks_.size() || tracks_[nextTrack].line != i + 1) break;
      current = int(nextTrack++);
      continue;
    }
    if (current < 0) break;
    keyLines_[current].push_back(i);
  }
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    if (keyLines_[t].size() != tracks_[t].keys.size()) {
      errors.push_back({tracks_[t].line, "the studio cannot place the keys of this track"});
      return false;
    }
  }
  return true;
}

// ------------------------------------------------------------------------
// Lines

std::string_view TrackTextModel::Content(int line) const {
  return std::string_view(text_).substr(lines_[line].begin, lines_[line].end - lines_[line].begin);
}

std::string TrackTextModel::LineEnd(int line) const {
  if (line >= 0 && lines_[line].next > lines_[line].end)
    return text_.substr(lines_[line].end, lines_[line].next - lines_[line].end);
  // The last line has none: the text's own, or a plain newline.
  for (const Line& l : lines_)
    if (l.next > l.end) return text_.substr(l.end, l.next - l.end);
  return "\n";
}

bool TrackTextModel::IsBlankLine(int line) const {
  const Words words = SplitWords(Content(line));
  return words.count == 0 && words.comment == None;
}

TrackTextModel::Splice TrackTextModel::InsertLines(std::size_t pos, const std::string& lines) const {
  // At the end of a text whose last line has no line end, that line gets
  // one first; Commit takes the new last one off again.
  if (pos == text_.size() && !text_.empty() && text_.back() != '\n')
    return {pos, pos, LineEnd(-1) + lines};
  return {pos, pos, lines};
}

const TrackSource* TrackTextModel::FindTrack(std::string_view name) const {
  for (const TrackSource& t : tracks_)
    if (t.name == name) return &t;
  return nullptr;
}

bool TrackTextModel::Commit(std::vector<Splice> splices, std::string& why) {
  // In one pass: a row shift splices every key line, and replacing them one
  // by one would move the rest of a long text once per key.
  std::stable_sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) { return a.begin < b.begin; });
  std::string text;
  text.reserve(text_.size() + 64);
  std::size_t copied = 0;
  for (const Splice& s : splices) {
    text.append(text_, copied, s.begin - copied);
    text += s.text;
    copied = s.end;
  }
  text.append(text_, copied, std::string::npos);
  // A text without a final newline keeps going without one.
  if (!text_.empty() && text_.back() != '\n' && !text.empty() && text.back() == '\n') {
    text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
  }
  std::vector<TrackTextError> errors;
  std::optional<TrackTextModel> next = FromText(std::move(text), errors);
  if (!next) {
    why = "the edit would leave text that does not compile (line " + std::to_string(errors[0].line) + ": " +
          errors[0].message + ")";
    return false;
  }
  *this = std::move(*next);
  return true;
}

// ------------------------------------------------------------------------
// Edits

bool TrackTextModel::Apply(const TextEdit& edit, std::string& why) {
  return std::visit(
      [&](const auto& e) {
        using E = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<E, SetKeyEdit>) {
          return SetKey(e, why);
        } else if constexpr (std::is_same_v<E, DeleteKeyEdit>) {
          return DeleteKey(e, why);
        } else if constexpr (std::is_same_v<E, ShiftRowsEdit>) {
          return ShiftRows(e, why);
        } else if constexpr (std::is_same_v<E, SetTemposEdit>) {
          return SetTempos(e, why);
        } else if constexpr (std::is_same_v<E, AddMarkEdit>) {
          return AddMark(e, why);
        } else {
          static_assert(std::is_same_v<E, DeleteMarkEdit>, "an edit without its routine");
          return DeleteMark(e, why);
        }
      },
      edit);
}

namespace {

bool RefuseUnknownTrack(const std::string& name, std::string& why) {
  if (IsShowTrack(name)) return false;
  why = "track " + QuoteWord(name) + " is none of the show's tracks (" + TrackTextModel::ShowTrackNames() + ")";
  return true;
}

// The index of the key at row, or -1.
int KeyAt(const TrackSource* track, int32_t row) {
  if (!track) return -1;
  const auto it = std::lower_bound(track->keys.begin(), track->keys.end(), row,
                                   [](const TrackKey& k, int32_t r) { return k.row < r; });
  return it != track->keys.end() && it->row == row ? int(it - track->keys.begin()) : -1;
}

}  // namespace

bool TrackTextModel::SetKey(const SetKeyEdit& edit, std::string& why) {
  if (RefuseUnknownTrack(edit.track, why)) return false;
  if (edit.value && !std::isfinite(*edit.value)) {
    why = "value " + ValueText(*edit.value) + " is not a finite number";
    return false;
  }
  if (edit.kind && (*edit.kind < -128 || *edit.kind > 127)) {
    why = "kind " + std::to_string(*edit.kind) + " is out of range (step, linear, smooth, ramp or -128..127)";
    return false;
  }
  const TrackSource* track = FindTrack(edit.track);
  const int t = track ? int(track - tracks_.data()) : -1;
  const int k = KeyAt(track, edit.row);

  if (k >= 0) {
    const TrackKey& key = track->keys[k];
    const int line = keyLines_[t][k];
    std::string content(Content(line));
    if (edit.value && !SameBits(*edit.value, key.value)) content = RewriteWord(content, 1, ValueText(*edit.value));
    if (edit.kind && *edit.kind != key.kind) content = RewriteWord(content, 2, KindText(*edit.kind));
    if (content == Content(line)) return true;
    return Commit({{lines_[line].begin, lines_[line].end, content}}, why);
  }

  if (!edit.value) {
    why = "track " + edit.track + " has no key at row " + std::to_string(edit.row) + " to change; a new key needs a value";
    return false;
  }
  // The keys before it in the track: the new one follows the last of them.
  const int before = !track ? 0
                            : int(std::lower_bound(track->keys.begin(), track->keys.end(), edit.row,
                                                   [](const TrackKey& key, int32_t r) { return key.row < r; }) -
                                  track->keys.begin());
  const int32_t kind = edit.kind ? *edit.kind : before > 0 ? track->keys[before - 1].kind : int32_t(KindStep);
  const std::string words[3] = {std::to_string(edit.row), ValueText(*edit.value), KindText(kind)};

  // The nearest key line at or above `line` in the text, else below it.
  auto nearestKeyLine = [&](int line) {
    int above = -1;
    int below = -1;
    for (const std::vector<int>& keyLines : keyLines_) {
      for (const int l : keyLines) {
        if (l <= line) {
          above = std::max(above, l);
        } else if (below < 0 || l < below) {
          below = l;
        }
      }
    }
    return above >= 0 ? above : below;
  };

  if (!track) {
    const int like = nearestKeyLine(int(lines_.size()));
    const std::string end = LineEnd(like);
    const std::string keyLine = like >= 0 ? LineLike(Content(like), words) : LineLike(DefaultKeyLine(), words);
    std::string indent;
    bool separated = !text_.empty();
    if (!tracks_.empty()) {
      const int header = tracks_.back().line - 1;
      const std::string_view content = Content(header);
      indent = content.substr(0, SplitWords(content).word[0].begin);
      separated = header > 0 && IsBlankLine(header - 1);
    }
    std::string block;
    if (separated && !lines_.empty() && !IsBlankLine(int(lines_.size()) - 1)) block = end;
    block += indent + "track " + edit.track + end + keyLine + end;
    return Commit({InsertLines(text_.size(), block)}, why);
  }

  const std::vector<int>& keyLines = keyLines_[t];
  const int header = track->line - 1;
  int like;
  std::size_t pos;
  if (before > 0) {
    like = keyLines[before - 1];
    pos = lines_[like].next;
  } else if (!keyLines.empty()) {
    like = keyLines[0];
    pos = lines_[like].begin;
  } else {
    like = nearestKeyLine(header);
    pos = lines_[header].next;
  }
  const std::string keyLine = like >= 0 ? LineLike(Content(like), words) : LineLike(DefaultKeyLine(), words);
  return Commit({InsertLines(pos, keyLine + LineEnd(like >= 0 ? like : header))}, why);
}

bool TrackTextModel::DeleteKey(const DeleteKeyEdit& edit, std::string& why) {
  if (RefuseUnknownTrack(edit.track, why)) return false;
  const TrackSource* track = FindTrack(edit.track);
  const int k = KeyAt(track, edit.row);
  if (k < 0) {
    why = "track " + edit.track + " has no key at row " + std::to_string(edit.row);
    return false;
  }
  const Line& line = lines_[keyLines_[track - tracks_.data()][k]];
  return Commit({{line.begin, line.next, ""}}, why);
}

bool TrackTextModel::ShiftRows(const ShiftRowsEdit& edit, std::string& why) {
  if (edit.by == 0) return true;
  const int64_t from = edit.from;
  const int64_t by = edit.by;
  std::vector<Splice> splices;
  for (std::size_t t = 0; t < tracks_.size(); ++t) {
    for (std::size_t k = 0; k < tracks_[t].keys.size(); ++k) {
      const int64_t row = tracks_[t].keys[k].row;
      if (row < from) continue;
      const Line& line = lines_[keyLines_[t][k]];
      if (by < 0 && row < from - by) {
        splices.push_back({line.begin, line.next, ""});
        continue;
      }
      const int64_t moved = row + by;
      if (moved > INT32_MAX) {
        why = "row " + std::to_string(row) + " of track " + tracks_[t].name + " would move past the last row, " +
              std::to_string(INT32_MAX);
        return false;
      }
      splices.push_back(
          {line.begin, line.end, RewriteWord(Content(keyLines_[t][k]), 0, std::to_string(moved))});
    }
  }
  return Commit(std::move(splices), why);
}

// Where a first tempo or mark line goes: before the first track (a mark
// after the tempo lines); blankAfter when that track is set off by a blank
// line, which the new lines then keep.
std::size_t TrackTextModel::NoteBlockPlace(bool forTempo, bool& blankAfter) const {
  blankAfter = false;
  if (!forTempo && !notes_.tempos.empty()) return lines_[notes_.tempos.back().line - 1].next;
  for (int i = 0; i < int(lines_.size()); ++i) {
    const std::string_view content = Content(i);
    const Words words = SplitWords(content);
    if (words.count == 0) continue;
    const std::string_view first = words.Word(content, 0);
    if (first == "track" || first == "mark") {
      blankAfter = first == "track" && i > 0 && IsBlankLine(i - 1);
      return lines_[i].begin;
    }
  }
  return text_.size();
}

bool TrackTextModel::SetTempos(const SetTemposEdit& edit, std::string& why) {
  const std::vector<TrackTempo>& want = edit.tempos;
  for (std::size_t i = 0; i < want.size(); ++i) {
    if (!std::isfinite(want[i].bpm) || !(want[i].bpm > 0.0)) {
      why = "tempo " + RowName(want[i].bpm) + " is not a number of beats per minute above 0";
      return false;
    }
    if (!IsWritableTime(want[i].row)) {
      why = "tempo at row " + RowName(want[i].row) + " is not a time on the timeline";
      return false;
    }
    if (i > 0 && !(want[i].row > want[i - 1].row)) {
      why = "tempo at row " + RowName(want[i].row) + " does not follow the one at row " + RowName(want[i - 1].row);
      return false;
    }
  }

  const std::vector<TrackTempo>& have = notes_.tempos;
  std::vector<Splice> splices;
  const std::size_t both = std::min(have.size(), want.size());
  for (std::size_t i = 0; i < both; ++i) {
    if (SameTempo(have[i], want[i])) continue;
    const int line = have[i].line - 1;
    const std::string_view content = Content(line);
    const Words words = SplitWords(content);
    std::string rewritten;
    if ((words.count == 4) == (want[i].row != 0.0)) {
      rewritten = RewriteWord(content, 1, FixedText(want[i].bpm));
      if (words.count == 4) rewritten = RewriteWord(rewritten, 3, TimeText(want[i].row));
    } else {
      const std::size_t last = words.word[words.count - 1].end;
      rewritten = std::string(content.substr(0, words.word[0].begin)) + TempoLine(want[i]) +
                  std::string(content.substr(last));
    }
    splices.push_back({lines_[line].begin, lines_[line].end, rewritten});
  }
  for (std::size_t i = both; i < have.size(); ++i) {
    const Line& line = lines_[have[i].line - 1];
    splices.push_back({line.begin, line.next, ""});
  }
  if (want.size() > have.size()) {
    std::string block;
    std::size_t pos;
    std::string end;
    bool blankAfter = false;
    if (!have.empty()) {
      pos = lines_[have.back().line - 1].next;
      end = LineEnd(have.back().line - 1);
    } else {
      pos = NoteBlockPlace(true, blankAfter);
      end = LineEnd(-1);
    }
    for (std::size_t i = have.size(); i < want.size(); ++i) block += TempoLine(want[i]) + end;
    if (blankAfter) block += end;
    splices.push_back(InsertLines(pos, block));
  }
  if (splices.empty()) return true;

  TrackTextModel next = *this;
  if (!next.Commit(std::move(splices), why)) return false;
  const std::vector<TrackTempo>& got = next.notes_.tempos;
  if (got.size() != want.size() || !std::equal(got.begin(), got.end(), want.begin(), SameTempo)) {
    why = "the tempo list cannot be written exactly";
    return false;
  }
  *this = std::move(next);
  return true;
}

bool TrackTextModel::AddMark(const AddMarkEdit& edit, std::string& why) {
  const std::string& name = edit.name;
  if (name.empty() || name.find_first_of("#\n\r") != None || IsBlank(name.front()) || IsBlank(name.back())) {
    why = "mark name " + QuoteWord(name) + " must be one line of text without '#' and without blanks around it";
    return false;
  }
  if (!IsWritableTime(edit.row)) {
    why = "mark at row " + RowName(edit.row) + " is not a time on the timeline";
    return false;
  }
  const std::string words[3] = {"mark", TimeText(edit.row), name};
  const std::vector<TrackMark>& marks = notes_.marks;
  Splice splice;
  if (marks.empty()) {
    bool blankAfter = false;
    const std::size_t pos = NoteBlockPlace(false, blankAfter);
    const std::string end = LineEnd(-1);
    splice = InsertLines(pos, words[0] + " " + words[1] + " " + words[2] + end + (blankAfter ? end : ""));
  } else {
    // After the last mark that is not later, as the text lists them; before
    // the first when every one is.
    int like = -1;
    for (const TrackMark& m : marks)
      if (m.row <= edit.row) like = m.line - 1;
    const bool after = like >= 0;
    if (!after) like = marks.front().line - 1;
    splice = InsertLines(after ? lines_[like].next : lines_[like].begin, LineLike(Content(like), words) + LineEnd(like));
  }
  TrackTextModel next = *this;
  if (!next.Commit({splice}, why)) return false;
  auto same = [&](const TrackMark& m) { return m.row == edit.row && m.name == name; };
  if (std::count_if(next.notes_.marks.begin(), next.notes_.marks.end(), same) !=
      std::count_if(marks.begin(), marks.end(), same) + 1) {
    why = "mark " + QuoteWord(name) + " cannot be written exactly";
    return false;
  }
  *this = std::move(next);
  return true;
}

bool TrackTextModel::DeleteMark(const DeleteMarkEdit& edit, std::string& why) {
  for (const TrackMark& m : notes_.marks) {
    if (m.row != edit.row || m.name != edit.name) continue;
    const Line& line = lines_[m.line - 1];
    return Commit({{line.begin, line.next, ""}}, why);
  }
  why = "no mark " + QuoteWord(edit.name) + " at row " + RowName(edit.row);
  return false;
}
