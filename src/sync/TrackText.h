// The track text format that show authors write and demotool compiles:
//
//   # comment to the end of the line; blank lines are ignored
//   track lamp.x            # starts a track: NAME is one word
//     0      0.0    linear  # ROW VALUE KIND, one key per line
//     40     1.5    smooth  # KIND: step | linear | smooth | ramp, or an integer
//     80    -2      step    #   from -128 to 127 (it is stored in one byte)
//   tempo 120               # the music's beats per minute, a beat on 0:00
//   tempo 128 at 1:04       #   from TIME on, a beat on TIME
//   mark 0:16 verse         # a bookmark: TIME, then a name to the end of the line
//
// TIME is written as `demo --from` takes it: seconds, m:ss.s or rROW. Tempo
// and mark lines are for the studio; playback skips them, and they belong to
// no track, so they may stand anywhere.
// Rows are int32 and strictly ascending within a track; values are finite
// single-precision numbers. Printed values use %.9g, which gives back the same
// float when read again, so printing then parsing is lossless.
#pragma once

#include <cstdint>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "sync/Tracks.h"

struct TrackSource {
  std::string name;
  int line = 0;  // the line of its "track" header
  std::vector<TrackKey> keys;
};

struct TrackTextError {
  int line;
  std::string message;
  // Only on the entry that closes a list cut short: how many errors it
  // stands for, the first of them on its line.
  long long more = 0;
};

// The studio's lines, in the order of the text; line is where each stands.
struct TrackTempo {
  double bpm = 0.0;
  double row = 0.0;  // where it takes over, with a beat; 0 when the line has no "at"
  int line = 0;
};
struct TrackMark {
  double row = 0.0;
  std::string name;  // blanks inside kept, those around it not
  int line = 0;
};
struct TrackTextNotes {
  std::vector<TrackTempo> tempos;  // ascending by row, as the text must give them
  std::vector<TrackMark> marks;
};

// The errors ParseTrackText keeps; past them one closing entry counts the
// rest. A file of nothing but mistakes (megabytes of them) then costs a
// screenful of messages, not a message per line.
inline constexpr std::size_t MostTrackTextErrors = 100;
// How much of a word a message quotes; a longer one ends in "...".
inline constexpr std::size_t MostQuotedCharacters = 48;

// Parses the whole text. Errors are collected with their line numbers (the
// first MostTrackTextErrors of them, then one entry for the rest); when there
// is any, the tracks are not to be used. Tempo and mark lines are checked
// and, when notes is given, collected there.
std::vector<TrackSource> ParseTrackText(const std::string& text, std::vector<TrackTextError>& errors,
                                        TrackTextNotes* notes = nullptr);

// word in quotes, cut after MostQuotedCharacters (never inside a UTF-8
// character) with "..." when it is longer.
std::string QuoteWord(std::string_view word);

// The text of one track, as ParseTrackText reads it back.
std::string FormatTrackText(const std::string& name, const TrackKey* keys, int32_t count);

// "step", "linear", "smooth", "ramp", or null for any other kind.
const char* TrackKindName(int32_t kind);

// Whether a name can become part of a track file name: one word of at most
// 243 characters, no directory separators.
bool IsValidTrackName(const std::string& name, std::string& why);
