// An offscreen OpenGL compatibility context for tests: SDL's offscreen video
// driver over Mesa's software renderer, so no X server is needed. One context
// per process; tests draw into the default framebuffer and read it back.
#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

// Creates (once) a window of the given size with a current GL context:
// RGBA 8888, depth 24, stencil 8, double-buffered. Returns false, with the
// reason on stderr, when no context can be had. A later call with another size
// moves the context, with its lists and textures, to a window of that size.
bool MakeGlContext(int width, int height, int samples = 0);

// Reads the back buffer as RGBA rows top to bottom (glReadPixels flipped).
std::vector<uint8_t> ReadPixels(int width, int height);

struct Rgba {
  uint8_t r, g, b, a;
};
Rgba PixelAt(const std::vector<uint8_t>& pixels, int width, int height, int x, int y);

// Writes RGBA rows as a PNG for a person to look at (libpng); returns false on error.
bool WritePng(const char* path, const std::vector<uint8_t>& rgba, int width, int height);

}  // namespace testsupport
