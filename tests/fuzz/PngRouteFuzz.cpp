// Any bytes down the image loader's PNG route: our decoder, then the nearest
// scaler onto power-of-two sides. A texture, when one comes, has such sides,
// covers the image, and holds the image's top-left pixel in its top-left
// corner (the texture is stored bottom row first).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/ImageLoader.h"
#include "png/PngDecoder.h"

namespace {

bool PowerOfTwo(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<unsigned char> bytes(data, data + size);
  const TexturePixels texture = DecodePngTexture("fuzz.png", bytes);
  if (texture.empty()) return 0;
  if (!PowerOfTwo(texture.width) || !PowerOfTwo(texture.height)) std::abort();

  std::vector<unsigned char> rgba;
  PngState state;
  decodeImage(rgba, state, bytes.data(), bytes.size());
  if (state.error != 0 || state.width > texture.width || state.height > texture.height) std::abort();
  const uint8_t* corner = texture.data.get() + size_t(texture.height - 1) * texture.width * 4;
  if (std::memcmp(corner, rgba.data(), 4) != 0) std::abort();
  return 0;
}
