// The 64 texture names of the demo; slot n is entry n and never changes.
// Slots 0 to 6 receive the seven images, 7 to 63 never receive one.
#pragma once

#include <GL/gl.h>

inline constexpr int TextureSlots = 64;
extern GLuint TextureTable[TextureSlots];
