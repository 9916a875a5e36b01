// The arithmetic of texture upload, kept apart from the GL calls: the render
// edge of the system route, the power-of-two padding and nearest-neighbour
// scaler of the PNG route, and the channel exchange with its colour key.
#pragma once

#include <cstddef>
#include <cstdint>

// Edge of the square the system route renders into, from GL_MAX_TEXTURE_SIZE:
// 4096 when the limit exceeds 4096, else half the limit (so 4096 gives 2048).
int RenderEdge(int maxTextureSize);

// The smallest power of two not below n, found by doubling from 1 (1 for n of
// 0 or 1). 64 bits wide, since a 32-bit n above 2^31 needs 2^32.
uint64_t PowerOfTwoAtLeast(uint32_t n);

// Bytes of a padded texture of width x height RGBA pixels, or 0 when that
// size does not fit in 32 bits (or either side is 0).
uint32_t PaddedTextureBytes(uint64_t width, uint64_t height);

// Scales an RGBA image of w x h pixels, rows top to bottom, to W2 x H2 by
// nearest neighbour into target (W2 * H2 * 4 bytes), stored bottom row first.
// Target column j of target row k (from the top) takes source column
// floor(j*w/W2) of source row floor(k*h/H2), found by integer stepping; a row
// that repeats the previous source row is copied whole from the row above it.
void ScaleImageNearest(const uint8_t* source, uint32_t w, uint32_t h, uint8_t* target, uint32_t W2,
                       uint32_t H2);

// Turns count pixels of blue, green, red, reserved into red, green, blue,
// alpha in place. Alpha is 255, or 0 where green and blue are both 0: red is
// not tested, so black and every pure red become transparent.
void KeyBgrxToRgba(uint8_t* pixels, size_t count);
