// TESTING ONLY: hooks into the video encoding service for tests. Besides them
// only the backend that implements a hook includes it.
#pragma once

#include <cstdint>

struct SwsContext;

// The picture converter's entry point as FFmpeg declares it.
using VideoScaleFunction = int (*)(SwsContext*, const uint8_t* const[], const int[], int, int,
                                   uint8_t* const[], const int[]);

// Every encoder then converts its pictures through scale, which may call the
// function returned (FFmpeg's own). Null when FFmpeg's libraries cannot be
// loaded; the hook is not set then.
VideoScaleFunction ReplaceVideoScaleFunction(VideoScaleFunction scale);
