// The show's fixed lists, each written once: the frame tracks and the field of
// the frame's values each one fills, the seven images with their texture
// slots, the music file and the control code that ends the show. Loading,
// the frame, demotool and the tests all loop over these tables, so a name
// changed here changes everywhere at once.
//
// Nothing here depends on any other part of the program: every layer may
// include it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

// The fourteen tracks evaluated at one row.
struct FrameTrackValues {
  float control = 0.0f;
  float backN = 0.0f;
  float backX = 0.0f;
  float backY = 0.0f;
  float backR = 0.0f;
  float backG = 0.0f;
  float backB = 0.0f;
  float backScale = 0.0f;
  float backRotX = 0.0f;
  float backRotY = 0.0f;
  float backRotZ = 0.0f;
  float scrollX = 0.0f;
  float scrollY = 0.0f;
  float scrollR = 0.0f;
};

struct FrameTrack {
  const char* name;
  float FrameTrackValues::*field;
};

// In the order the tracks are registered at start-up (and their files read).
inline constexpr FrameTrack FrameTracks[] = {
    {"back.n", &FrameTrackValues::backN},         {"back.x", &FrameTrackValues::backX},
    {"back.y", &FrameTrackValues::backY},         {"back.r", &FrameTrackValues::backR},
    {"back.g", &FrameTrackValues::backG},         {"back.b", &FrameTrackValues::backB},
    {"back.scale", &FrameTrackValues::backScale}, {"back.rotx", &FrameTrackValues::backRotX},
    {"back.roty", &FrameTrackValues::backRotY},   {"back.rotz", &FrameTrackValues::backRotZ},
    {"scroll.x", &FrameTrackValues::scrollX},     {"scroll.y", &FrameTrackValues::scrollY},
    {"scroll.r", &FrameTrackValues::scrollR},     {"control", &FrameTrackValues::control},
};
inline constexpr std::size_t FrameTrackCount = sizeof(FrameTracks) / sizeof(FrameTracks[0]);

// The index in FrameTracks of the track that fills a field (FrameTrackCount if none).
constexpr std::size_t FrameTrackIndex(float FrameTrackValues::*field) {
  for (std::size_t i = 0; i < FrameTrackCount; ++i)
    if (FrameTracks[i].field == field) return i;
  return FrameTrackCount;
}

inline constexpr const char* ControlTrackName = FrameTracks[FrameTrackIndex(&FrameTrackValues::control)].name;

// Every file of a show lies in this folder, relative to the working directory,
// unless the command line names another (ShowFilePath in platform/Files.h).
inline constexpr char ShowFolder[] = "res";

struct ShowImage {
  const char* file;  // inside the show's folder
  int32_t slot;      // its entry of the texture table
};

// In the order they are loaded, one loading-screen dot each.
inline constexpr ShowImage ShowImages[] = {
    {"vorn.gif", 0},       {"dravel.jpg", 1},       {"tile.jpg", 2},    {"grlsch.png", 3},
    {"nightbacon.gif", 4}, {"atari_st_bee.gif", 5}, {"poubell.gif", 6},
};
inline constexpr std::size_t ShowImageCount = sizeof(ShowImages) / sizeof(ShowImages[0]);

// The image file of a texture slot, or null for a slot no image is loaded into.
constexpr const char* ShowImageForSlot(int32_t slot) {
  for (const ShowImage& image : ShowImages)
    if (image.slot == slot) return image.file;
  return nullptr;
}

// The music, inside the show's folder; its play position is the timeline.
inline constexpr char MusicFileName[] = "Quelf - Tavoy Rip.mp3";

// The control code whose first frame ends the show.
inline constexpr int32_t EndOfShowCode = 777;

// A track value as an integer: truncated toward zero. Values beyond the int32
// range saturate and NaN gives 0, so a wild key can neither wrap around into a
// meaningful code nor trip undefined behaviour.
inline int32_t TruncateTrackValue(float value) {
  if (std::isnan(value)) return 0;
  // 2^31 is exactly representable; everything at or beyond it saturates.
  if (value >= 2147483648.0f) return INT32_MAX;
  if (value <= -2147483648.0f) return INT32_MIN;
  return static_cast<int32_t>(value);
}
