// Show times as people write them on a command line: seconds ("61.5"),
// minutes and seconds ("1:01.5") or a row with a leading r ("r1230"), all of
// them a position on the timeline in rows.
#pragma once

#include <string>

// The row that text names. False, with *row untouched, for anything else:
// empty text, a sign, spaces, trailing characters, seconds of 60 or more
// after a colon, or a value too large to be a show position.
bool ParseShowTime(const char* text, double* row);

// "m:ss.ff" for a position in seconds (negative positions print as 0:00.00);
// hundredths are truncated, so the time shown never runs ahead of the music.
std::string FormatShowTime(double seconds);
