#include "render/FramePlan.h"

#include <cmath>

namespace {

struct ControlEntry {
  PlaneRoutine routine;
  int32_t slot;
  int32_t fadeOut;
};

// Codes 1..11. Slot 3 is the portrait, 4 the night scene, 5 the bee, 0 the
// title picture and 6 the bin; 11 brings the bin in on plane B and has no
// fade-out partner.
constexpr ControlEntry ControlTable[] = {
    {PlaneRoutine::A, 3, 0}, {PlaneRoutine::A, 3, 1},  // 1, 2
    {PlaneRoutine::C, 4, 0}, {PlaneRoutine::C, 4, 1},  // 3, 4
    {PlaneRoutine::B, 5, 0}, {PlaneRoutine::B, 5, 1},  // 5, 6
    {PlaneRoutine::C, 0, 0}, {PlaneRoutine::C, 0, 1},  // 7, 8
    {PlaneRoutine::A, 6, 0}, {PlaneRoutine::A, 6, 1},  // 9, 10
    {PlaneRoutine::B, 6, 0},                           // 11
};
constexpr int32_t ControlCodes = sizeof(ControlTable) / sizeof(ControlTable[0]);

constexpr double ScrollStartX = static_cast<double>(7.4f);
constexpr double ScrollDropY = 3.5;

}  // namespace

PlaneChoice PlaneForControlCode(int32_t code) {
  if (code < 1 || code > ControlCodes) return {};
  const ControlEntry& e = ControlTable[code - 1];
  return {e.routine, e.slot, e.fadeOut};
}

FramePlan PlanFrame(const FrameTrackValues& values) {
  FramePlan plan;
  const int32_t code = TruncateTrackValue(values.control);
  if (code == EndOfShowCode) {
    plan.endsShow = true;
    return plan;
  }
  plan.plane = PlaneForControlCode(code);
  plan.backdropSlot = TruncateTrackValue(values.backN);
  return plan;
}

uint32_t TextureNameForSlot(const uint32_t* table, int32_t tableSize, int32_t slot) {
  return (slot >= 0 && slot < tableSize) ? table[slot] : 0u;
}

ScrollOffset ScrollTextOffset(float scrollX, float scrollY) {
  return {static_cast<float>(ScrollStartX - static_cast<double>(scrollX)),
          static_cast<float>(static_cast<double>(scrollY) - ScrollDropY)};
}

float BackdropScale(float backScale) {
  return static_cast<float>(static_cast<double>(backScale) + 1.0);
}
