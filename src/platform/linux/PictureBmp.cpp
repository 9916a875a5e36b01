// Pictures service, picture loader backend: our own reader of uncompressed
// Windows bitmaps.
#include "platform/linux/PictureInternal.h"

#include <cstring>
#include <new>

namespace picture_backend {

namespace {

// Uncompressed Windows bitmaps: 1, 4 and 8 bits through a colour table, 16
// bits as 5-5-5 or by bit-field masks, 24 bits, 32 bits as blue, green, red
// and an ignored fourth byte or by masks. Rows bottom-up, or top-down for a
// negative height, each padded to 4 bytes. Run-length compressed files are
// refused. All pixels are opaque: the fourth byte of 32-bit files is not
// alpha to the picture loader.

uint32_t ReadLe(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
  return value;
}

// The bits of value under mask widened to 8 by repeating them (5 bits abcde
// give abcdeabc), so that 0 stays 0 and all ones become 255; wider fields
// keep their top 8 bits.
uint8_t MaskedChannel(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (!(mask >> shift & 1)) ++shift;
  int bits = 0;
  while (bits < 32 - shift && (mask >> (shift + bits) & 1)) ++bits;
  const uint32_t field = (value >> shift) & ((uint64_t(1) << bits) - 1);
  if (bits >= 8) return uint8_t(field >> (bits - 8));
  uint32_t widened = 0;
  int filled = 0;
  while (filled < 8) {
    widened = widened << bits | field;
    filled += bits;
  }
  return uint8_t(widened >> (filled - 8));
}

}  // namespace

Picture* LoadBmp(const uint8_t* data, size_t size) {
  constexpr uint32_t BiRgb = 0, BiBitfields = 3;
  if (size < 14 + 12) return nullptr;
  const uint32_t pixelOffset = ReadLe(data + 10, 4);
  const uint32_t headerSize = ReadLe(data + 14, 4);
  const uint8_t* header = data + 14;
  if (headerSize > size - 14) return nullptr;

  int64_t width = 0, height = 0;
  uint32_t bitCount = 0, compression = BiRgb, coloursUsed = 0;
  int paletteEntryBytes = 4;
  if (headerSize == 12) {  // the old core header: 16-bit sizes, 3-byte colours
    width = ReadLe(header + 4, 2);
    height = ReadLe(header + 6, 2);
    bitCount = ReadLe(header + 10, 2);
    paletteEntryBytes = 3;
  } else if (headerSize >= 40) {
    width = int32_t(ReadLe(header + 4, 4));
    height = int32_t(ReadLe(header + 8, 4));
    bitCount = ReadLe(header + 14, 2);
    compression = ReadLe(header + 16, 4);
    coloursUsed = ReadLe(header + 32, 4);
  } else {
    return nullptr;
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return nullptr;

  // Masks: in the header from version 2 on (52 bytes and more), else in the
  // 12 bytes after a 40-byte header. A header of 41 to 51 bytes holds part of
  // them at most: no known writer makes one, and it is refused.
  constexpr uint32_t MaskBytes = 12;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};  // 5-5-5 when not given
  if (bitCount == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  size_t tableStart = 14 + headerSize;
  if (compression == BiBitfields) {
    if (bitCount != 16 && bitCount != 32) return nullptr;
    const uint8_t* m = header + 40;
    if (headerSize == 40) {
      if (size < tableStart + MaskBytes) return nullptr;
      tableStart += MaskBytes;
    } else if (headerSize < 40 + MaskBytes) {
      return nullptr;
    }
    for (int i = 0; i < 3; ++i) masks[i] = ReadLe(m + 4 * i, 4);
  } else if (compression != BiRgb) {
    return nullptr;
  }
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
      bitCount != 32) {
    return nullptr;
  }

  std::vector<uint8_t> palette;  // BGR triples
  if (bitCount <= 8) {
    const uint32_t entries = coloursUsed && coloursUsed < (1u << bitCount) ? coloursUsed
                                                                           : 1u << bitCount;
    palette.assign(size_t(1u << bitCount) * 3, 0);  // indices past the table: black
    for (uint32_t i = 0; i < entries; ++i) {
      const size_t at = tableStart + size_t(i) * paletteEntryBytes;
      if (at + 3 > size) break;
      std::memcpy(&palette[i * 3], data + at, 3);
    }
  }

  const size_t stride = (size_t(width) * bitCount + 31) / 32 * 4;
  if (pixelOffset > size || stride * size_t(height) > size - pixelOffset) return nullptr;
  auto* picture = new (std::nothrow) Picture;
  if (!picture) return nullptr;
  if (!AllocatePicture(*picture, int(width), int(height))) {
    delete picture;
    return nullptr;
  }
  for (int64_t y = 0; y < height; ++y) {
    const uint8_t* in = data + pixelOffset + size_t(topDown ? y : height - 1 - y) * stride;
    uint8_t* out = picture->bgra.data() + size_t(y) * width * 4;
    for (int64_t x = 0; x < width; ++x, out += 4) {
      out[3] = 255;
      if (bitCount <= 8) {
        const size_t bit = size_t(x) * bitCount;
        const unsigned index = (in[bit / 8] >> (8 - bitCount - bit % 8)) & ((1u << bitCount) - 1);
        std::memcpy(out, &palette[index * 3], 3);
      } else if (bitCount == 24) {
        std::memcpy(out, in + x * 3, 3);
      } else {
        const uint32_t value = ReadLe(in + x * (bitCount / 8), int(bitCount / 8));
        out[2] = MaskedChannel(value, masks[0]);
        out[1] = MaskedChannel(value, masks[1]);
        out[0] = MaskedChannel(value, masks[2]);
      }
    }
  }
  return picture;
}

}  // namespace picture_backend
