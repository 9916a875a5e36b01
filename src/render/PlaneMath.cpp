#include "render/PlaneMath.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "render/FramePlan.h"
#include "sync/MusicClock.h"
#include "sync/Tracks.h"

namespace {

// Single-precision decimals widened to double: the planes were tuned with
// these exact values, so they stay bit for bit what a float literal holds.
constexpr double F(float value) { return static_cast<double>(value); }

constexpr double SwayPhasePerRow = F(0.1f);
constexpr double HeightPhasePerRow = F(0.2f);
constexpr double WidthPhasePerRow = 0.5;
constexpr double WobbleAmplitude = F(0.01f);
constexpr double ColumnNudge = F(0.11f);

// Plane A: a tight mosaic of 7 x 14 small tiles centred on the view axis.
// Plane B: 8 x 14 large overlapping tiles stepping 0.6 across, 0.52 up.
// Plane C: the same start, 1.0 across and 0.22 up, so rows overlap into bands.
constexpr PlaneLayout LayoutA{7, F(0.22f), -F(1.54f), F(0.22f), -F(0.66f), F(0.1f),
                              false, true, true, false};
constexpr PlaneLayout LayoutB{8, F(0.6f), -F(1.98f), F(0.52f), -F(0.44f), F(0.4f),
                              true, false, false, true};
constexpr PlaneLayout LayoutC{8, 1.0, -F(1.98f), F(0.22f), -F(0.44f), F(0.4f),
                              true, false, false, true};

}  // namespace

void StepFade(FadeState& fade, int32_t fadeOut, double row) {
  if (fade.lastStepRow < 0.0) fade.lastStepRow = row;
  // Strict comparisons throughout: a distance of exactly the threshold waits,
  // and the fade-in overshoots to 1.0049999775364995 on its 201st step
  // because 200 single-precision steps stay just below 1.
  const bool farEnough = std::fabs(row - fade.lastStepRow) > FadeMinRowDistance;
  if (fadeOut == 0) {
    if (fade.factor < 1.0 && farEnough) {
      fade.factor += FadeStep;
      fade.lastStepRow = row;
    }
  } else {
    if (fade.factor > 0.0 && farEnough) {
      fade.factor -= FadeStep;
      fade.lastStepRow = row;
    }
  }
}

const PlaneLayout& LayoutOf(PlaneRoutine routine) {
  switch (routine) {
    case PlaneRoutine::B: return LayoutB;
    case PlaneRoutine::C: return LayoutC;
    default: return LayoutA;
  }
}

PlaneCallValues ComputePlaneCallValues(PlaneRoutine routine, double row) {
  const PlaneLayout& layout = LayoutOf(routine);
  PlaneCallValues v{};
  v.s = std::sin(row * SwayPhasePerRow);
  v.h = v.s * 0.5;
  v.a = row * HeightPhasePerRow;
  v.b = row * WidthPhasePerRow;
  v.depth = layout.swayInDepth ? static_cast<float>(std::fabs(v.h) - 1.0) : -1.0f;
  v.tiltX = static_cast<float>(5.0 * v.s);
  v.turnZ = static_cast<float>(15.0 * v.s);
  return v;
}

float TileRowY(const PlaneLayout& layout, double i) {
  return static_cast<float>(i * layout.rowStep + layout.rowStart);
}

float TileColumnX(const PlaneLayout& layout, const PlaneCallValues& call, double j) {
  // Summed left to right: the rounding of each partial sum is part of the look.
  return static_cast<float>(j * layout.columnStep + layout.columnStart + ColumnNudge + call.h);
}

TileScale TileScaleAt(const PlaneLayout& layout, const PlaneCallValues& call, double i, double j,
                      double fadeFactor) {
  const double wobbleX = std::fabs(std::sin((call.b + j) + i) * WobbleAmplitude);
  const double wobbleY = std::fabs(std::sin((j + call.a) + i) * WobbleAmplitude);
  return {static_cast<float>((wobbleX + layout.scaleBase) * fadeFactor),
          static_cast<float>((wobbleY + layout.scaleBase) * fadeFactor)};
}

TileTransform TileTransformAt(PlaneRoutine routine, double row, int32_t i, int32_t j,
                              double fadeFactor) {
  const PlaneLayout& layout = LayoutOf(routine);
  const PlaneCallValues call = ComputePlaneCallValues(routine, row);
  const TileScale scale = TileScaleAt(layout, call, i, j, fadeFactor);
  return {TileColumnX(layout, call, j), TileRowY(layout, i), call.depth, scale.x, scale.y};
}

namespace {

// The row up to which the control track keeps the value it has at row: the
// next key's row when the key in force holds its value (a step, a kind that
// gives 0, equal neighbours) or when row lies before the first key; infinity
// past the last key. Where the value moves between keys, row itself.
double ControlHoldsUntil(const Track* control, double row) {
  constexpr double Forever = std::numeric_limits<double>::infinity();
  if (!control || control->keyCount <= 0 || !control->keys) return Forever;
  if (!(row < 2147483647.0)) return Forever;
  const int32_t i = FindKey(control, int32_t(std::floor(row)));
  if (i < 0) return control->keys[0].row;
  if (i >= control->keyCount - 1) return Forever;
  const TrackKey& key = control->keys[i];
  const TrackKey& next = control->keys[i + 1];
  const bool holds = key.kind == KindStep || key.kind < KindStep || key.kind > KindRamp ||
                     key.value == next.value;
  return holds ? double(next.row) : row;
}

bool FadeIsAtRest(const FadeState& fade, int32_t fadeOut) {
  if (fade.lastStepRow < 0.0) return false;  // the next call still arms it
  return fadeOut == 0 ? !(fade.factor < 1.0) : !(fade.factor > 0.0);
}

}  // namespace

PlaneFades ReplayPlaneFades(const Track* control, double row, double framesPerSecond) {
  PlaneFades fades;
  const double rowsPerFrame = RowsPerSecond / std::max(framesPerSecond, 1.0);
  if (!(row > 0.0) || !std::isfinite(row)) return fades;
  for (int64_t frame = 0;; ++frame) {
    const double frameRow = double(frame) * rowsPerFrame;
    if (!(frameRow < row)) break;
    const PlaneChoice plane = PlaneForControlCode(TruncateTrackValue(TrackValue(control, frameRow)));
    if (plane.routine != PlaneRoutine::None) StepFade(fades.Of(plane.routine), plane.fadeOut, frameRow);

    // Nothing changes while the code holds and its plane is fully in or out
    // (or there is none): go straight to the first frame at the next change.
    const bool atRest = plane.routine == PlaneRoutine::None || FadeIsAtRest(fades.Of(plane.routine), plane.fadeOut);
    const double until = std::min(ControlHoldsUntil(control, frameRow), row);
    if (atRest && until > frameRow) {
      int64_t next = int64_t(std::ceil(until / rowsPerFrame));
      while (next > frame + 1 && double(next - 1) * rowsPerFrame >= until) --next;
      while (double(next) * rowsPerFrame < until) ++next;
      frame = std::max(frame, next - 1);
    }
  }
  return fades;
}
