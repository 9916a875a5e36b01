// The three tiled image-plane effects, each with its own fade state.
#pragma once

#include <cstdint>

#include "render/PlaneMath.h"

void DrawImagePlaneA(int32_t slot, int32_t fadeOut, double row);
void DrawImagePlaneB(int32_t slot, int32_t fadeOut, double row);
void DrawImagePlaneC(int32_t slot, int32_t fadeOut, double row);

// Each routine's fade is kept for the whole run and moved only by that
// routine's calls, except when the timeline jumps: then the caller puts in
// the fades a viewer would have at the new row (ReplayPlaneFades).
PlaneFades CurrentPlaneFades();
void SetPlaneFades(const PlaneFades& fades);
