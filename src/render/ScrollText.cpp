#include "render/ScrollText.h"

#include <array>

namespace {

// The line is written as its pieces and the gaps that follow each: the gaps are
// what makes the scroll breathe (a word spelled out letter by letter, then the
// long paragraphs with pauses between them), so their lengths are kept as
// numbers here rather than as runs of spaces nobody can count.
struct Piece {
  const char* text;
  int32_t spacesAfter;
};

constexpr Piece Pieces[] = {
    {"W", 35},
    {"We", 35},
    {"Wel", 35},
    {"Welc", 70},
    {"Welcome.", 35},
    {"You are watching a small real-time show: one piece of music, 7 pictures and a long "
     "line of solid letters, all of it drawn again for every frame as the song plays. "
     "Nothing here is a video. The music itself is the clock, counted in rows, twenty of "
     "them for every second, and fourteen curves read at each row decide where the tiles "
     "sway, how the backdrop turns and what colour it takes, and how fast this very line "
     "crawls past you from the right edge of the screen.",
     88},
    {"It was made the old way: the curves were typed in as keys, one track file each, "
     "\"control\" picks the tiles, \"back\" moves the backdrop and \"scroll\" moves these "
     "words. The pictures are decoded by our own inflater, and every letter is a glyph "
     "outline.",
     9},
    {"Greetings go out to everyone who still writes demos for the joy of it, to the "
     "musicians who lend us their songs, and to you for watching until the very end.",
     92},
    {"See you soon.", 0},
};

constexpr std::array<char, ScrollTextLength + 1> Assemble() {
  std::array<char, ScrollTextLength + 1> line{};
  int32_t at = 0;
  for (const Piece& piece : Pieces) {
    for (const char* c = piece.text; *c; ++c) line[at++] = *c;
    for (int32_t n = 0; n < piece.spacesAfter; ++n) line[at++] = ' ';
  }
  // Writing past the end above fails compilation; falling short is caught here.
  if (at != ScrollTextLength) throw "scroll text length changed";
  line[at] = '\0';
  return line;
}

constexpr std::array<char, ScrollTextLength + 1> AssembledLine = Assemble();

}  // namespace

const char* const ScrollText = AssembledLine.data();
