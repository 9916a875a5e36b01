// The three tiled image-plane effects, each with its own fade state.
#pragma once

#include <cstdint>

void DrawImagePlaneA(int32_t slot, int32_t fadeOut, double row);
void DrawImagePlaneB(int32_t slot, int32_t fadeOut, double row);
void DrawImagePlaneC(int32_t slot, int32_t fadeOut, double row);
