// Pictures service, PNG bitmap decoder backend: libpng.
//
// Decodes a PNG held in memory into premultiplied BGRA, 8 bits a channel:
// palettes and low bit depths are expanded, 16-bit samples cut to their high
// byte, grey made RGB, a tRNS colour made alpha, and images without alpha get
// 255. No gamma or colour-profile conversion is applied. libpng's own messages
// are silenced: a damaged file is reported to the caller as a failed call.
#include "platform/Pictures.h"
#include "platform/PicturesTesting.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

struct PngBitmapDecoder {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t pos = 0;
  bool initialized = false;
  bool frameRead = false;
};

namespace {

// Same cap as the picture loader: 1 GiB of BGRA at most.
constexpr uint64_t MaxBitmapPixels = uint64_t(1) << 28;

bool creationFails = false;

png_voidp AllocateForPng(png_structp, png_alloc_size_t size) {
  if (creationFails) {
    errno = ENOMEM;
    return nullptr;
  }
  return std::malloc(size);
}

void FreeForPng(png_structp, png_voidp p) { std::free(p); }

[[noreturn]] void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
  auto* decoder = static_cast<PngBitmapDecoder*>(png_get_io_ptr(png));
  if (decoder->size - decoder->pos < count) png_error(png, "read past the end");
  std::memcpy(out, decoder->data + decoder->pos, count);
  decoder->pos += count;
}

inline uint8_t Premultiply(unsigned colour, unsigned alpha) {
  return uint8_t((colour * alpha + 127) / 255);
}

// The part of DecodePngBitmapFrame that libpng may jump out of. Kept apart so
// that the caller's locals are untouched by the jump.
bool ReadFrame(PngBitmapDecoder* decoder, PremultipliedBitmap& bitmap,
               std::vector<png_bytep>& rows) {
  png_structp png = decoder->png;
  png_infop info = decoder->info;
  if (setjmp(png_jmpbuf(png))) return false;

  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  if (png_get_rowbytes(png, info) != size_t(width) * 4) return false;
  if (width == 0 || height == 0 || uint64_t(width) * height > MaxBitmapPixels) return false;
  try {
    bitmap.pixels.assign(size_t(width) * height * 4, 0);
    rows.resize(height);
  } catch (const std::bad_alloc&) {
    return false;
  }
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = bitmap.pixels.data() + size_t(y) * width * 4;
  png_read_image(png, rows.data());
  bitmap.width = width;
  bitmap.height = height;
  return true;
}

}  // namespace

void SetPngBitmapDecoderCreationFails(bool fails) { creationFails = fails; }

PngBitmapDecoder* CreatePngBitmapDecoder() {
  auto* decoder = new (std::nothrow) PngBitmapDecoder;
  if (!decoder) {
    errno = ENOMEM;
    return nullptr;
  }
  decoder->png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning,
                                          nullptr, AllocateForPng, FreeForPng);
  if (decoder->png) decoder->info = png_create_info_struct(decoder->png);
  if (!decoder->png || !decoder->info) {
    const int saved = errno ? errno : ENOMEM;
    if (decoder->png) png_destroy_read_struct(&decoder->png, nullptr, nullptr);
    delete decoder;
    errno = saved;
    return nullptr;
  }
  return decoder;
}

bool InitializePngBitmapDecoder(PngBitmapDecoder* decoder, const uint8_t* data, size_t size) {
  if (!decoder || decoder->initialized || !data || size < 8) return false;
  if (png_sig_cmp(data, 0, 8) != 0) return false;
  decoder->data = data;
  decoder->size = size;
  decoder->pos = 0;
  png_set_read_fn(decoder->png, decoder, ReadFromMemory);
  if (setjmp(png_jmpbuf(decoder->png))) return false;
  png_read_info(decoder->png, decoder->info);
  decoder->initialized = true;
  return true;
}

uint32_t PngBitmapFrameCount(const PngBitmapDecoder* decoder) {
  return decoder && decoder->initialized ? 1 : 0;
}

bool DecodePngBitmapFrame(PngBitmapDecoder* decoder, PremultipliedBitmap& bitmap) {
  bitmap = PremultipliedBitmap{};
  // libpng reads its stream once: a second decode of the same frame is refused.
  if (!decoder || !decoder->initialized || decoder->frameRead) return false;
  decoder->frameRead = true;
  std::vector<png_bytep> rows;
  if (!ReadFrame(decoder, bitmap, rows)) {
    bitmap = PremultipliedBitmap{};
    return false;
  }
  uint8_t* p = bitmap.pixels.data();
  const size_t count = size_t(bitmap.width) * bitmap.height;
  for (size_t i = 0; i < count; ++i, p += 4) {
    const unsigned alpha = p[3];
    if (alpha == 255) continue;
    p[0] = Premultiply(p[0], alpha);
    p[1] = Premultiply(p[1], alpha);
    p[2] = Premultiply(p[2], alpha);
  }
  return true;
}

void ReleasePngBitmapDecoder(PngBitmapDecoder* decoder) {
  if (!decoder) return;
  png_destroy_read_struct(&decoder->png, &decoder->info, nullptr);
  delete decoder;
}

void WriteDecoderCreationFailure() {
  std::fputs("failed", stdout);
  // The number is read after the first write, so it is whatever that write
  // left behind, as the one who reads this diagnostic expects.
  const int lastError = errno;
  std::printf("\n%d \n", lastError);
  std::fflush(stdout);
}
