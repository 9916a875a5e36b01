// Tracks swapped while the show plays: keys compiled from text take the place
// of what the registered tracks held, between two frames.
#pragma once

#include <string>
#include <vector>

#include "sync/TrackText.h"

struct TrackSet;

struct TrackSwapResult {
  std::vector<std::string> changed;        // registered tracks whose keys are now different
  std::vector<const TrackSource*> unused;  // sources no registered track takes
};

// Gives every registered track the keys of the source of its name, or no keys
// when no source has that name (as a missing file would). Sources that name
// no registered track change nothing and come back in `unused`. The sources
// must be ones ParseTrackText found no error in.
TrackSwapResult SwapInTrackSources(TrackSet* set, const std::vector<TrackSource>& sources);
