// The show's track names as a text names them: whether a name is one of them
// and, for one that is not, the nearest ones, so that every message about a
// slip in a name can offer what was probably meant.
//
// Header only and depending on nothing but the show's table, like
// ShowTable.h: every layer and demotool include it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "show/ShowTable.h"

inline bool IsShowTrack(std::string_view name) {
  for (const FrameTrack& track : FrameTracks)
    if (name == track.name) return true;
  return false;
}

// Insertions, deletions and substitutions, one byte each.
inline std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> previous(b.size() + 1), current(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t substitute = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitute});
    }
    std::swap(previous, current);
  }
  return previous[b.size()];
}

// The show's track names nearest to name, in the show table's order: all of
// those at the smallest distance, so that "back.q" offers every colour.
inline std::vector<std::string> ClosestShowTracks(std::string_view name) {
  std::size_t best = SIZE_MAX;
  std::vector<std::string> closest;
  for (const FrameTrack& track : FrameTracks) {
    const std::size_t distance = EditDistance(name, track.name);
    if (distance < best) closest.clear(), best = distance;
    if (distance == best) closest.emplace_back(track.name);
  }
  return closest;
}

// "a", "a or b", "a, b or c".
inline std::string JoinAlternatives(const std::vector<std::string>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " or " : ", ";
    out += names[i];
  }
  return out;
}

// What the demo says, after a text's file and line, of a track the text
// names but the show never reads (quoted: the name as the message quotes it).
inline std::string UnusedTrackMessage(std::string_view name, std::string_view quoted) {
  return "track " + std::string(quoted) + " is none of the show's tracks; it is left out (did you mean " +
         JoinAlternatives(ClosestShowTracks(name)) + "?)";
}
