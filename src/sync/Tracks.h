// Track store: the registry of named animation tracks, their binary files and
// their evaluation at a fractional row with Step, Linear, Smooth or Ramp keys.
#pragma once

#include <cstdint>
#include <string>

#include "sync/TrackKey.h"

struct Track {
  char* name;       // private copy of the requested name
  TrackKey* keys;   // ascending by row, or null
  int32_t keyCount;
  // The key the last TrackValue call found. Playback asks for rows a fraction
  // apart, so the answer is nearly always this key or the next, which is
  // cheaper to confirm than to search for. Any value is safe: it is checked
  // before it is used.
  mutable int32_t lastKey = -1;
};

struct TrackSet {
  char* baseName;
  Track** tracks;   // registration order
  int32_t trackCount;
};

// Creates the registry; the result becomes the one registry GetTrack uses.
TrackSet* CreateTrackSet(const char* baseName);
// The one registry GetTrack uses (null before CreateTrackSet; GetTrack creates
// a "sync" registry itself if asked first).
TrackSet* CurrentTrackSet();
// Frees a registry with its tracks, names and keys, and forgets it if it is
// the one GetTrack uses. The demo keeps its registry for the whole run and
// never calls this; tools and tests that make several registries do.
void DestroyTrackSet(TrackSet* set);
// The track of that name, created, registered and loaded on first request.
Track* GetTrack(const char* name);
// The same without reading a file: a new track has no keys until the caller
// gives it some (tracks compiled from text).
Track* RegisterTrack(const char* name);
// Index of the track with that name in the registry, or -1.
int32_t FindTrack(const TrackSet* set, const char* name);
// "res/steak_NAME.track" (in the show's folder, ShowFilePath) in a builder-owned
// 260-byte buffer, valid until the next call. Null, with a line on stderr, for a
// name too long to fit (243 characters in the folder "res").
const char* TrackFilePath(const char* name);
enum class TrackLoad {
  Loaded,      // the file was read whole and its keys are the track's
  CannotOpen,  // missing or unreadable: the track is left unchanged
  Damaged,     // empty, cut short, a bad count or rows out of order: the track
               // keeps the whole keys a file cut short still holds, otherwise none
};
// Reads a track file into the track. For anything but Loaded, `problem` (when
// given) receives what is wrong with the file, in a few words. Keys are taken
// as stored, NaN and infinite values included: every integer use of a value
// saturates, and a wild value only moves the picture.
TrackLoad LoadTrackFile(const char* path, Track* track, std::string* problem = nullptr);
// Index of the last key whose row is at most row, or -1.
int32_t FindKey(const Track* track, int32_t row);
// The track's value at a fractional row (0.0 for a track without keys).
// Remembers the key it found in the track (lastKey), so one track must not be
// evaluated from two threads at once.
float TrackValue(const Track* track, double row);
