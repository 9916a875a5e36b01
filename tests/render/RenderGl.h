// Offscreen GL set-up for the render tests: the demo's projection and fixed
// state on a small 16:9 picture, and solid-colour textures in the table's slots
// so that what a routine drew can be told apart by colour.
#pragma once

#include <GL/gl.h>

#include <cstdint>
#include <vector>

#include "support/GlTestContext.h"

namespace rendertest {

inline constexpr int Width = 320;
inline constexpr int Height = 180;

struct Colour {
  uint8_t r, g, b;
};

// Slot n's texture is a solid colour: SlotColours[n] for slots 0..6.
extern const Colour SlotColours[7];

// Makes the context (once), sets the 45-degree 16:9 projection, the fixed
// state the shell leaves (depth test on, blending, texturing) and fills the
// texture table. Returns false when no GL context can be had.
bool SetUpDemoGl();

// Puts back the state a routine may have changed, between tests.
void ResetDemoGlState();

std::vector<uint8_t> Grab();
bool Near(const testsupport::Rgba& p, Colour c, int tolerance = 6);
// Pixels of the picture (or of a rectangle of it) within tolerance of a colour.
int CountNear(const std::vector<uint8_t>& pixels, Colour c, int x0 = 0, int y0 = 0,
              int x1 = Width, int y1 = Height, int tolerance = 6);
// Writes the picture under the build folder for a person to look at.
void Keep(const std::vector<uint8_t>& pixels, const char* name);

}  // namespace rendertest
