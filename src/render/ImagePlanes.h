// The three tiled image-plane effects, each with its own fade state.
#pragma once

#include <cstdint>

#include "render/PlaneMath.h"

void DrawImagePlaneA(int32_t slot, int32_t fadeOut, double row);
void DrawImagePlaneB(int32_t slot, int32_t fadeOut, double row);
void DrawImagePlaneC(int32_t slot, int32_t fadeOut, double row);

// Each routine's fade, kept for the whole run and moved only by that routine's
// calls. Tests put them back to the start state to replay a fade.
extern FadeState PlaneFadeA;
extern FadeState PlaneFadeB;
extern FadeState PlaneFadeC;
