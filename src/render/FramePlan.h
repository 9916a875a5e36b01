// What a frame shows, decided from the fourteen track values of its row alone:
// which image plane (routine, slot, fade direction), which backdrop slot, and
// whether the show ends. No GL and no clock here, so any row's frame can be
// decided, checked or replayed without a window.
#pragma once

#include <cstdint>

#include "render/PlaneMath.h"
#include "show/ShowTable.h"

struct PlaneChoice {
  PlaneRoutine routine = PlaneRoutine::None;
  int32_t slot = 0;
  int32_t fadeOut = 0;
};

struct FramePlan {
  bool endsShow = false;
  PlaneChoice plane;
  int32_t backdropSlot = 0;  // may lie outside the table: then no texture is bound
};

// The control code's image plane; codes without one give PlaneRoutine::None.
PlaneChoice PlaneForControlCode(int32_t code);

FramePlan PlanFrame(const FrameTrackValues& values);

// The texture name a slot binds: the table's entry for 0..63, and 0 (no
// texture) for any other slot, so nothing outside the table is ever read.
uint32_t TextureNameForSlot(const uint32_t* table, int32_t tableSize, int32_t slot);

// The text frame's offset, in text units, before the tilt: x starts at 7.4 and
// runs left as the horizontal scroll grows; y sits 3.5 below the vertical one.
struct ScrollOffset {
  float x, y;
};
ScrollOffset ScrollTextOffset(float scrollX, float scrollY);

// The backdrop scale track is added to the natural size: 0 draws the backdrop 2 x 2.
float BackdropScale(float backScale);
