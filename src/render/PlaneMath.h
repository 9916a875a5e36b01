// The arithmetic of the image planes, kept apart from the GL calls: the fade
// step each plane routine takes once per call, the values it computes once per
// call, and where each tile of its grid stands and how large it is.
//
// Decimal constants are the nearest single-precision values widened to double
// (0.1 is 0.100000001490116...), whole numbers and halves are exact, and all
// of it runs in double precision. What goes to GL is rounded to float.
#pragma once

#include <cstdint>

// A routine's fade: the factor scales every tile, the last step row paces it.
// A negative last step row means the routine has not been called yet.
struct FadeState {
  double factor = 0.0;
  double lastStepRow = -1.0;
};

inline constexpr double FadeStep = static_cast<double>(0.005f);
inline constexpr double FadeMinRowDistance = static_cast<double>(0.1f);

// One step per call at most, and at most one per 0.1 rows of music: fadeOut 0
// moves the factor up toward 1, anything else down toward 0. The first call
// only arms the state.
void StepFade(FadeState& fade, int32_t fadeOut, double row);

enum class PlaneRoutine : int32_t { None = 0, A, B, C };

// The fades of the three routines together.
struct PlaneFades {
  FadeState a, b, c;
  FadeState& Of(PlaneRoutine routine) { return routine == PlaneRoutine::B ? b : routine == PlaneRoutine::C ? c : a; }
};

struct Track;

// The fades a viewer who had watched from the start would see on arriving at
// row: the show replayed without drawing, one frame every 1/framesPerSecond
// seconds from row 0 up to (not including) row, each frame stepping the fade
// of the plane its control code draws. The fade depends on how many frames
// were drawn, so a jump in the timeline (a seek, a start part-way, a still
// or a capture) takes these instead of the fades it happens to hold. A null
// control track draws no plane; framesPerSecond below 1 counts as 1.
PlaneFades ReplayPlaneFades(const Track* control, double row, double framesPerSecond);

// What tells the three routines apart.
struct PlaneLayout {
  int32_t gridRows;        // i runs 0 .. gridRows-1; j always 0..13
  double columnStep;       // tx = j * columnStep + columnStart + 0.11 + h
  double columnStart;
  double rowStep;          // ty = i * rowStep + rowStart
  double rowStart;
  double scaleBase;        // added to the wobble before the fade scales it
  bool enablesTexturing;   // glEnable(GL_TEXTURE_2D) on entry
  bool disablesDepthTest;  // glDisable(GL_DEPTH_TEST) after the colour
  bool swayInDepth;        // tiles at abs(h) - 1 (A) instead of -1 (B, C)
  bool tiltsWithMusic;     // rotate by 5s about x and 15s about z (B, C) or 45 about (1,1,1) (A)
};

inline constexpr int32_t PlaneColumns = 14;

const PlaneLayout& LayoutOf(PlaneRoutine routine);

// Computed once per call, from the row alone.
struct PlaneCallValues {
  double s;       // sin(row * 0.1)
  double h;       // s * 0.5: sideways sway
  double a;       // row * 0.2: phase of the height wobble
  double b;       // row * 0.5: phase of the width wobble
  float depth;    // abs(h) - 1 for A, -1 for B and C
  float tiltX;    // 5 s degrees about x (B, C)
  float turnZ;    // 15 s degrees about z (B, C)
};

PlaneCallValues ComputePlaneCallValues(PlaneRoutine routine, double row);

// The grid row's height, once per grid row.
float TileRowY(const PlaneLayout& layout, double i);
// The column's x, including the sway.
float TileColumnX(const PlaneLayout& layout, const PlaneCallValues& call, double j);

struct TileScale {
  float x, y;
};
// The tile's scale: a small wobble on the layout's base, times the fade factor.
TileScale TileScaleAt(const PlaneLayout& layout, const PlaneCallValues& call, double i, double j,
                      double fadeFactor);

// Everything the tile (i, j) hands to glTranslatef and glScalef.
struct TileTransform {
  float tx, ty, tz;
  float sx, sy;
};
TileTransform TileTransformAt(PlaneRoutine routine, double row, int32_t i, int32_t j,
                              double fadeFactor);
