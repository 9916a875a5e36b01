// Track store: the registry of named animation tracks, their binary files and
// their evaluation at a fractional row with Step, Linear, Smooth or Ramp keys.
#pragma once

#include <cstdint>

enum TrackKind : int32_t { KindStep = 0, KindLinear = 1, KindSmooth = 2, KindRamp = 3 };

struct TrackKey {
  int32_t row;
  float value;
  int32_t kind;
};

struct Track {
  char* name;       // private copy of the requested name
  TrackKey* keys;   // ascending by row, or null
  int32_t keyCount;
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
// Index of the track with that name in the registry, or -1.
int32_t FindTrack(const TrackSet* set, const char* name);
// "res\steak_NAME.track" in a builder-owned 260-byte buffer, valid until the next call.
// Null, with a line on stderr, for a name longer than the 243 characters that fit.
const char* TrackFilePath(const char* name);
// 0 when the file was opened and read, 1 when it cannot be opened, 2 when its
// keys are refused (rows not strictly ascending, or a value that is not finite:
// the track is left without keys and one line on stderr names the file). A
// file shorter than its count keeps the whole keys it holds; a negative count
// gives no keys.
int32_t LoadTrackFile(const char* path, Track* track);
// Index of the last key whose row is at most row, or -1.
int32_t FindKey(const Track* track, int32_t row);
// The track's value at a fractional row (0.0 for a track without keys).
float TrackValue(const Track* track, double row);
