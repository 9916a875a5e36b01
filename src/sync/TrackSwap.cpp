#include "sync/TrackSwap.h"

#include <algorithm>
#include <cstring>

#include "sync/Tracks.h"

namespace {

bool SameKeys(const Track* track, const std::vector<TrackKey>& keys) {
  if (track->keyCount != int32_t(keys.size())) return false;
  for (size_t i = 0; i < keys.size(); ++i) {
    const TrackKey& a = track->keys[i];
    // Bit for bit: a value rewritten from 0 to -0 is a change the picture may show.
    if (a.row != keys[i].row || a.kind != keys[i].kind ||
        std::memcmp(&a.value, &keys[i].value, sizeof a.value) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

TrackSwapResult SwapInTrackSources(TrackSet* set, const std::vector<TrackSource>& sources) {
  TrackSwapResult result;
  std::vector<bool> taken(sources.size(), false);
  static const std::vector<TrackKey> None;
  for (int32_t t = 0; set && t < set->trackCount; ++t) {
    Track* track = set->tracks[t];
    const std::vector<TrackKey>* keys = &None;
    for (size_t i = 0; i < sources.size(); ++i) {
      if (sources[i].name == track->name) {
        keys = &sources[i].keys;
        taken[i] = true;
      }
    }
    if (SameKeys(track, *keys)) continue;
    TrackKey* copy = keys->empty() ? nullptr : new TrackKey[keys->size()];
    std::copy(keys->begin(), keys->end(), copy);
    delete[] track->keys;
    track->keys = copy;
    track->keyCount = int32_t(keys->size());
    result.changed.push_back(track->name);
  }
  for (size_t i = 0; i < sources.size(); ++i) {
    if (!taken[i]) result.unused.push_back(&sources[i]);
  }
  return result;
}
