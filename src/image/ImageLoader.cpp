// Image loader: the system route (picture drawn into a keyed square) and the
// PNG route (our decoder, power-of-two nearest-neighbour padding). Both leave
// GL_TEXTURE_2D enabled and the slot's texture bound, with linear filters, no
// mipmaps and the default wrap. Every working buffer belongs to one load and
// is gone when it returns: the system route's square alone is 64 MiB at an
// edge of 4096.
#include "image/ImageLoader.h"

#include <GL/gl.h>

#include <cstdio>
#include <new>

#include "image/SystemImage.h"
#include "image/TextureMath.h"
#include "image/TextureTable.h"
#include "platform/Files.h"
#include "png/PngDecoder.h"

namespace {

// Enable and bind: the two calls before each route's glTexImage2D.
void BindSlot(int slot) {
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, TextureTable[slot]);
}

// The two calls after it: linear both ways, so no mipmap level is needed.
void SetLinearFilters() {
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

}  // namespace

ImageLoader::ImageLoader(const char* path, int slot) {
  if (!path) path = "";
  if (slot < 0 || slot >= TextureSlots) {
    std::fprintf(stderr, "image: %s: slot %d is outside the texture table\n", path, slot);
    return;
  }
  SystemImage image;
  LoadSystemImage(path, image);
  if (image.picture) {
    UploadSystemImage(image, slot);
  } else {
    // A bitmap from the PNG decoder is never uploaded: our own decoder reads
    // the file again and gives the texture its unpremultiplied alpha.
    UploadPngImage(path, slot);
  }
  ReleaseSystemImage(image);
}

int UploadSystemImage(const SystemImage& image, int slot) {
  if (slot < 0 || slot >= TextureSlots) return 0;
  GLint maxTextureSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  const int edge = RenderEdge(maxTextureSize);
  if (edge <= 0) return 0;

  // The drawing target starts zeroed, so whatever the picture leaves
  // untouched (its transparent pixels) is black and the key clears it.
  std::vector<uint8_t> square;
  try {
    square.assign(size_t(edge) * edge * 4, 0);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "image: no memory for a %dx%d texture\n", edge, edge);
    return 0;
  }
  const PixelTarget target{square.data(), edge, edge};
  DrawSystemImage(image, target, TargetRect{0, 0, edge, edge});
  KeyBgrxToRgba(square.data(), size_t(edge) * edge);

  BindSlot(slot);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, edge, edge, 0, GL_RGBA, GL_UNSIGNED_BYTE, square.data());
  SetLinearFilters();
  return 1;
}

void ReadFileBytes(const char* path, std::vector<unsigned char>& bytes) {
  // Whatever could be read; empty when the file is missing or too large for memory.
  ReadDataFile(path, bytes);
}

int UploadPngImage(const char* path, int slot) {
  if (!path) path = "";
  if (slot < 0 || slot >= TextureSlots) return 0;
  std::vector<unsigned char> decoded;
  PngState state;
  bool noBytes = false;
  {
    std::vector<unsigned char> bytes;
    ReadFileBytes(path, bytes);
    noBytes = bytes.empty();
    try {
      decodeImage(decoded, state, noBytes ? nullptr : bytes.data(), bytes.size());
    } catch (const std::bad_alloc&) {
      // A header may claim a size no memory holds: refuse the file, keep the show.
      std::fprintf(stderr, "image: %s: no memory to decode it, not uploaded\n", path);
      return 0;
    }
  }  // the file's bytes go as soon as they are decoded

  const uint32_t w = state.width;
  const uint32_t h = state.height;
  if (state.error != 0) {
    std::fprintf(stderr, "image: %s: %s (PNG error %d), not uploaded\n", path,
                 noBytes ? "missing or empty" : "cannot be decoded", state.error);
    return 0;
  }
  // The decoder claims success: still refuse pixels it did not deliver.
  if (w == 0 || h == 0 || decoded.size() < uint64_t(w) * h * 4) {
    std::fprintf(stderr, "image: %s: decoder gave %ux%u with %zu bytes, not uploaded\n", path, w, h,
                 decoded.size());
    return 0;
  }
  const uint64_t paddedWidth = PowerOfTwoAtLeast(w);
  const uint64_t paddedHeight = PowerOfTwoAtLeast(h);
  const uint32_t bytes = PaddedTextureBytes(paddedWidth, paddedHeight);
  if (bytes == 0) {
    std::fprintf(stderr, "image: %s: %ux%u pads past a 32-bit size, not uploaded\n", path, w, h);
    return 0;
  }
  std::vector<unsigned char> texture;
  try {
    texture.resize(bytes);
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "image: %s: no memory for a %llux%llu texture, not uploaded\n", path,
                 static_cast<unsigned long long>(paddedWidth),
                 static_cast<unsigned long long>(paddedHeight));
    return 0;
  }
  const uint32_t W2 = static_cast<uint32_t>(paddedWidth);
  const uint32_t H2 = static_cast<uint32_t>(paddedHeight);
  ScaleImageNearest(decoded.data(), w, h, texture.data(), W2, H2);
  std::vector<unsigned char>().swap(decoded);

  GLint maxTextureSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  if (W2 > uint32_t(maxTextureSize) || H2 > uint32_t(maxTextureSize)) {
    std::fprintf(stderr, "image: %s: %ux%u texture exceeds GL's limit of %d\n", path, W2, H2,
                 maxTextureSize);
  }
  BindSlot(slot);
  // Internal format 4: four components, the PNG's own alpha included.
  glTexImage2D(GL_TEXTURE_2D, 0, 4, GLsizei(W2), GLsizei(H2), 0, GL_RGBA, GL_UNSIGNED_BYTE,
               texture.data());
  SetLinearFilters();
  return 1;
}
