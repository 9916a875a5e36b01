#include "support/GlTestContext.h"

#include <GL/gl.h>
#include <SDL.h>
#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace testsupport {
namespace {
SDL_Window* window = nullptr;
SDL_GLContext context = nullptr;
}  // namespace

bool MakeGlContext(int width, int height, int samples) {
  if (!window) {
    // Tests never need a display: the offscreen driver renders through EGL.
    setenv("SDL_VIDEODRIVER", "offscreen", 0);
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
      std::fprintf(stderr, "SDL_Init: %s\n", SDL_GetError());
      return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    if (samples > 0) {
      SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 1);
      SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, samples);
    }
    window = SDL_CreateWindow("test", 0, 0, width, height, SDL_WINDOW_OPENGL);
    if (!window) {
      std::fprintf(stderr, "SDL_CreateWindow: %s\n", SDL_GetError());
      return false;
    }
    context = SDL_GL_CreateContext(window);
    if (!context) {
      std::fprintf(stderr, "SDL_GL_CreateContext: %s\n", SDL_GetError());
      return false;
    }
  } else {
    int oldWidth = 0, oldHeight = 0;
    SDL_GetWindowSize(window, &oldWidth, &oldHeight);
    if (oldWidth != width || oldHeight != height) {
      // The offscreen driver's surface keeps the size it was made with when
      // its window is resized: a new window of the new size takes the
      // context over, with every list and texture made in it so far.
      SDL_Window* resized = SDL_CreateWindow("test", 0, 0, width, height, SDL_WINDOW_OPENGL);
      if (!resized || SDL_GL_MakeCurrent(resized, context) != 0) {
        std::fprintf(stderr, "a %dx%d test window: %s\n", width, height, SDL_GetError());
        if (resized) SDL_DestroyWindow(resized);
        return false;
      }
      SDL_DestroyWindow(window);
      window = resized;
    }
  }
  SDL_GL_MakeCurrent(window, context);
  glViewport(0, 0, width, height);
  return true;
}

std::vector<uint8_t> ReadPixels(int width, int height) {
  std::vector<uint8_t> bottomUp(static_cast<size_t>(width) * height * 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadBuffer(GL_BACK);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, bottomUp.data());
  std::vector<uint8_t> topDown(bottomUp.size());
  const size_t stride = static_cast<size_t>(width) * 4;
  for (int y = 0; y < height; ++y) {
    std::copy_n(bottomUp.data() + (height - 1 - y) * stride, stride, topDown.data() + y * stride);
  }
  return topDown;
}

Rgba PixelAt(const std::vector<uint8_t>& pixels, int width, int /*height*/, int x, int y) {
  const uint8_t* p = pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

bool WritePng(const char* path, const std::vector<uint8_t>& rgba, int width, int height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  return png_image_write_to_file(&image, path, 0, rgba.data(), 0, nullptr) != 0;
}

}  // namespace testsupport
