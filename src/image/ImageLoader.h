// Image loader: turns an image file into the texture of its slot, by the
// system picture route or our own PNG route.
//
// A load has two halves. PrepareImage reads the file once and makes the
// texture's pixels; it touches no GL state, so the start-up runs it on a
// worker thread for the next image while the current one is uploaded.
// UploadPreparedImage hands the pixels to GL on the thread that owns the
// context. LoadImage does both in turn.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "image/SystemImage.h"

// Texture pixels: 8-bit R, G, B, A, the image's bottom row first. Allocated
// zeroed by the system (calloc), so a picture's transparent pixels cost no
// separate clearing pass over the system route's 64 MiB square; a square
// given back for reuse is cleared instead, which costs less than the fresh
// memory's page faults.
struct TexturePixels {
  struct Free {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, Free> data;
  uint32_t width = 0;
  uint32_t height = 0;
  int internalFormat = 0;  // what glTexImage2D is given: GL_RGBA or 4

  bool empty() const { return !data; }
};

// The outcome of preparing one image; pixels are empty when nothing is to be
// uploaded (the reason has been written on stderr).
struct PreparedImage {
  int slot = 0;
  TexturePixels pixels;
};

// The render edge of the system route for the current context (needs GL).
int CurrentRenderEdge();

// Reads path once and makes slot's texture pixels, without GL: a picture the
// system loader accepts is drawn over a renderEdge square and keyed; anything
// else goes to our PNG decoder and is padded to powers of two. A missing,
// empty or undecodable file gives one stderr line naming it and empty pixels.
// A system-route picture is drawn into *square (the pixels of an image
// already uploaded) when that has the size needed, and the square is taken
// either way; the PNG route and a file that cannot be read leave it with the
// caller for a later picture.
PreparedImage PrepareImage(const char* path, int slot, int renderEdge, TexturePixels* square = nullptr);

// Enable, bind, image, magnification filter, minification filter. Uploads
// nothing for empty pixels. True when a texture image was handed to GL.
bool UploadPreparedImage(const PreparedImage& image);

// While one lives, a picture that cannot be made on this thread is reported
// with outcome ("keeps its old picture") in place of "its slot stays empty".
class ImageFailureOutcome {
 public:
  explicit ImageFailureOutcome(const char* outcome);
  ~ImageFailureOutcome();
  ImageFailureOutcome(const ImageFailureOutcome&) = delete;
  ImageFailureOutcome& operator=(const ImageFailureOutcome&) = delete;

 private:
  const char* previous_;
};

// The whole load on the calling thread, which owns the GL context.
bool LoadImage(const char* path, int slot);

// The system route for a SystemImage that holds a picture: draws it over a
// renderEdge square and keys it. Empty pixels when it holds none.
TexturePixels RenderSystemImage(const SystemImage& image, int renderEdge, TexturePixels reuse = {});

// The PNG route for a file's bytes: our decoder, then the power-of-two
// nearest-neighbour padding. Empty pixels, with one line on stderr naming
// path, when the bytes do not decode or the padded size cannot be had.
TexturePixels DecodePngTexture(const char* path, const std::vector<unsigned char>& bytes);
