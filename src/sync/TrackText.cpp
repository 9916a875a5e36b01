// Parsing and printing of the track text format.
#include "sync/TrackText.h"

#include "sync/ShowTime.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string_view>

namespace {

constexpr std::size_t MaxNameLength = 243;  // what the track file path has room for

// A line's first words, and how many it has in all. Nothing is copied: a
// file of millions of lines costs no allocation per line.
struct LineWords {
  static constexpr int Kept = 4;  // the most any valid line has (tempo BPM at TIME)
  std::string_view word[Kept];
  std::size_t count = 0;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

LineWords SplitWords(std::string_view line) {
  LineWords words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    if (i > start) {
      if (words.count < LineWords::Kept) words.word[words.count] = line.substr(start, i - start);
      ++words.count;
    }
  }
  return words;
}

// Collects errors up to MostTrackTextErrors and counts the rest. A message is
// built only for an error that is kept.
class ErrorList {
 public:
  explicit ErrorList(std::vector<TrackTextError>& errors) : errors_(errors) {}
  // The closing entry for the errors that were only counted.
  void Finish() {
    if (more_ > 0) {
      errors_.push_back({firstMoreLine_, "... and " + std::to_string(more_) + " more error" + (more_ > 1 ? "s" : ""),
                         more_});
    }
  }
  template <typename Message>
  void Add(int line, Message&& message) {
    if (kept_ < MostTrackTextErrors) {
      errors_.push_back({line, message()});
      ++kept_;
    } else if (more_++ == 0) {
      firstMoreLine_ = line;
    }
  }

 private:
  std::vector<TrackTextError>& errors_;
  std::size_t kept_ = 0;
  long long more_ = 0;
  int firstMoreLine_ = 0;
};

bool ParseRow(const std::string& word, int32_t& row) {
  errno = 0;
  char* end = nullptr;
  const long long v = std::strtoll(word.c_str(), &end, 10);
  if (errno != 0 || end == word.c_str() || *end != '\0') return false;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  row = int32_t(v);
  return true;
}

bool ParseValue(const std::string& word, float& value) {
  char* end = nullptr;
  const float v = std::strtof(word.c_str(), &end);
  if (end == word.c_str() || *end != '\0' || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool ParseKind(const std::string& word, int32_t& kind) {
  static const std::map<std::string, int32_t> names = {
      {"step", KindStep}, {"linear", KindLinear}, {"smooth", KindSmooth}, {"ramp", KindRamp}};
  const auto it = names.find(word);
  if (it != names.end()) {
    kind = it->second;
    return true;
  }
  int32_t number;
  if (!ParseRow(word, number) || number < -128 || number > 127) return false;
  kind = number;
  return true;
}

// Beats per minute: digits with at most one point, above 0. No sign, exponent
// or "inf", none of which a beat grid has a use for.
bool ParseBpm(std::string_view word, double& bpm) {
  int digits = 0;
  int points = 0;
  for (const char c : word) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c != '.' || points++ > 0) {
      return false;
    }
  }
  if (digits == 0) return false;
  const double v = std::strtod(std::string(word).c_str(), nullptr);
  if (!(v > 0.0) || !std::isfinite(v)) return false;
  bpm = v;
  return true;
}

bool ParseTime(std::string_view word, double& row) { return ParseShowTime(std::string(word).c_str(), &row); }

std::string RowText(double row) {
  char text[40];
  std::snprintf(text, sizeof text, "%.10g", row);
  return text;
}

// The studio's tempo and mark lines. Playback has no use for them, but they
// are checked all the same: a mistyped tempo would otherwise shift the beat
// grid without a word. line is already cut at its comment.
struct NoteLines {
  TrackTextNotes* notes;
  bool anyTempo = false;
  double lastTempoRow = 0.0;

  void Read(std::string_view line, const LineWords& words, int number, ErrorList& problems) {
    if (words.word[0] == "tempo") {
      const bool at = words.count == 4 && words.word[2] == "at";
      if (words.count != 2 && !at) {
        problems.Add(number, [] { return "expected tempo BPM or tempo BPM at TIME"; });
        return;
      }
      TrackTempo tempo;
      tempo.line = number;
      bool ok = true;
      if (!ParseBpm(words.word[1], tempo.bpm)) {
        problems.Add(number, [&] { return "bad tempo " + QuoteWord(words.word[1]) + " (beats per minute above 0)"; });
        ok = false;
      }
      if (at && !ParseTime(words.word[3], tempo.row)) {
        problems.Add(number, [&] { return "bad time " + QuoteWord(words.word[3]) + " (seconds, m:ss.s or rROW)"; });
        ok = false;
      }
      if (!ok) return;
      if (anyTempo && tempo.row <= lastTempoRow) {
        problems.Add(number, [&] {
          return "tempo at row " + RowText(tempo.row) + " does not follow the one at row " + RowText(lastTempoRow) +
                 " (tempo changes must be in time order)";
        });
        return;
      }
      anyTempo = true;
      lastTempoRow = tempo.row;
      if (notes) notes->tempos.push_back(tempo);
      return;
    }
    if (words.count < 3) {
      problems.Add(number, [] { return "expected mark TIME NAME"; });
      return;
    }
    TrackMark mark;
    mark.line = number;
    if (!ParseTime(words.word[1], mark.row)) {
      problems.Add(number, [&] { return "bad time " + QuoteWord(words.word[1]) + " (seconds, m:ss.s or rROW)"; });
      return;
    }
    if (!notes) return;
    std::string_view name = line.substr(std::size_t(words.word[2].data() - line.data()));
    while (IsBlank(name.back())) name.remove_suffix(1);
    mark.name = std::string(name);
    notes->marks.push_back(std::move(mark));
  }
};

}  // namespace

const char* TrackKindName(int32_t kind) {
  switch (kind) {
    case KindStep: return "step";
    case KindLinear: return "linear";
    case KindSmooth: return "smooth";
    case KindRamp: return "ramp";
    default: return nullptr;
  }
}

bool IsValidTrackName(const std::string& name, std::string& why) {
  if (name.empty()) {
    why = "empty track name";
    return false;
  }
  if (name.size() > MaxNameLength) {
    why = "track name of " + std::to_string(name.size()) + " characters is too long (at most " +
          std::to_string(MaxNameLength) + ")";
    return false;
  }
  for (char c : name) {
    if (c == '/' || c == '\\') {
      why = "track name " + QuoteWord(name) + " contains a directory separator";
      return false;
    }
    if (c == ' ' || c == '\t' || static_cast<unsigned char>(c) < 0x20) {
      why = "track name " + QuoteWord(name) + " must be one word";
      return false;
    }
  }
  return true;
}

std::string QuoteWord(std::string_view word) {
  if (word.size() <= MostQuotedCharacters) return "'" + std::string(word) + "'";
  std::size_t cut = MostQuotedCharacters;
  // Back to the first byte of a character: 10xxxxxx bytes continue one.
  while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80) --cut;
  return "'" + std::string(word.substr(0, cut)) + "...'";
}

std::vector<TrackSource> ParseTrackText(const std::string& text, std::vector<TrackTextError>& errors,
                                        TrackTextNotes* notes) {
  std::vector<TrackSource> tracks;
  std::map<std::string, int, std::less<>> firstLine;
  TrackSource* current = nullptr;
  TrackSource discarded;  // keys of a track that cannot be used are still checked here
  ErrorList problems(errors);
  NoteLines noteLines{notes};

  std::string_view rest(text);
  int number = 0;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
    ++number;
    line = line.substr(0, line.find('#'));
    const LineWords words = SplitWords(line);
    if (words.count == 0) continue;
    if (words.word[0] == "tempo" || words.word[0] == "mark") {
      noteLines.Read(line, words, number, problems);
      continue;
    }

    if (words.word[0] == "track") {
      const std::string name(words.count == 2 ? words.word[1] : std::string_view());
      std::string why;
      if (words.count != 2) {
        problems.Add(number, [&] { return words.count < 2 ? "'track' needs a name" : "a track name must be one word"; });
      } else if (!IsValidTrackName(name, why)) {
        problems.Add(number, [&] { return why; });
      } else if (const auto seen = firstLine.find(name); seen != firstLine.end()) {
        problems.Add(number, [&] {
          return "duplicate track " + QuoteWord(name) + " (first defined on line " + std::to_string(seen->second) + ")";
        });
      } else {
        firstLine.emplace(name, number);
        tracks.push_back(TrackSource{name, number, {}});
        current = &tracks.back();
        continue;
      }
      discarded = TrackSource{};
      current = &discarded;
      continue;
    }

    if (!current) {
      problems.Add(number, [] { return "key before any 'track' line"; });
      continue;
    }
    if (words.count != 3) {
      problems.Add(number, [&] { return "expected ROW VALUE KIND, found " + std::to_string(words.count) + " word(s)"; });
      continue;
    }
    TrackKey key{};
    bool ok = true;
    if (!ParseRow(std::string(words.word[0]), key.row)) {
      problems.Add(number, [&] {
        return "bad row " + QuoteWord(words.word[0]) + " (a whole number from -2147483648 to 2147483647)";
      });
      ok = false;
    }
    if (!ParseValue(std::string(words.word[1]), key.value)) {
      problems.Add(number, [&] { return "bad value " + QuoteWord(words.word[1]) + " (a finite single-precision number)"; });
      ok = false;
    }
    if (!ParseKind(std::string(words.word[2]), key.kind)) {
      problems.Add(number, [&] {
        return "unknown kind " + QuoteWord(words.word[2]) + " (step, linear, smooth, ramp or -128..127)";
      });
      ok = false;
    }
    if (!ok) continue;
    if (!current->keys.empty() && key.row <= current->keys.back().row) {
      problems.Add(number, [&] {
        return "row " + std::to_string(key.row) + " does not follow row " + std::to_string(current->keys.back().row) +
               " (rows must be strictly ascending)";
      });
      continue;
    }
    current->keys.push_back(key);
  }
  problems.Finish();
  return tracks;
}

std::string FormatTrackText(const std::string& name, const TrackKey* keys, int32_t count) {
  std::string out = "track " + name + "\n";
  char value[32];
  char line[96];
  for (int32_t k = 0; k < count; ++k) {
    std::snprintf(value, sizeof value, "%.9g", double(keys[k].value));
    const char* kindName = TrackKindName(keys[k].kind);
    const std::string kind = kindName ? kindName : std::to_string(keys[k].kind);
    std::snprintf(line, sizeof line, "  %-11d %-16s %s\n", int(keys[k].row), value, kind.c_str());
    out += line;
  }
  return out;
}
