// One key of a track: the row it stands on, its value, and how the value goes
// from there to the next key. Shared by the registry, the file and text
// formats and demotool, so it depends on nothing.
#pragma once

#include <cstdint>

// A key's kind is stored as a signed byte and may hold any value; only these
// four interpolate, every other kind gives 0.0 up to the next key.
enum TrackKind : int32_t { KindStep = 0, KindLinear = 1, KindSmooth = 2, KindRamp = 3 };

struct TrackKey {
  int32_t row;
  float value;
  int32_t kind;
};
