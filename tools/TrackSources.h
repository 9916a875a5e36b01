// The tracks of a show as demotool's pictures read them: from track text or
// from a folder of binary track files, in the show's own order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sync/Tracks.h"

struct PlotTrack {
  std::string name;
  std::vector<TrackKey> keys;
  Track track{nullptr, nullptr, 0};
  // Points track at keys; again after every copy.
  void Bind() {
    track.keys = keys.empty() ? nullptr : keys.data();
    track.keyCount = static_cast<int32_t>(keys.size());
  }
};

// Reads SOURCE: track text (every error reported as FILE:LINE: message, exit
// status 1) or a folder (the show's frame tracks, a missing one without
// keys, then any other steak_NAME.track by name; a refused file is reported
// and has no keys, as in the demo). The show's tracks come first, control
// leading and the rest in the show table's order. 0, or the exit status with the reason on
// stderr, prefixed with who.
int LoadPlotTracks(const std::string& source, std::vector<PlotTrack>& tracks, const char* who);
