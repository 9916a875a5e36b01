// Pictures service, picture loader backend: the nearest-neighbour stretch that
// draws pictures and bitmaps into 32-bit bottom-up pixel buffers.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/linux/PictureInternal.h"

namespace {

// Source index of each destination step: the source pixel under the centre of
// the destination pixel, so that both ends of the picture get their share.
std::vector<int> StretchMap(int destCount, int sourceCount) {
  std::vector<int> map(static_cast<size_t>(destCount));
  for (int i = 0; i < destCount; ++i) {
    map[i] = static_cast<int>((int64_t(2 * int64_t(i) + 1) * sourceCount) / (2 * int64_t(destCount)));
  }
  return map;
}

// Calls put(destPixel, sourcePixel) for every target pixel under rect,
// mapping source rows (top to bottom) upright onto the bottom-up target; put
// says whether it wrote the pixel (a transparent one is left as it was). A
// row that shows the same source row as the row drawn before it writes the
// same pixels with the same values, so it copies the runs that row wrote
// from it and leaves the rest of itself alone: enlarging a small picture to
// a 4096 square then costs little more than the copies, holes and all.
template <typename Put>
void Stretch(const uint8_t* source, int sourceWidth, int sourceHeight, const PixelTarget& target,
             const TargetRect& rect, Put put) {
  const int destWidth = rect.right - rect.left;
  const int destHeight = rect.bottom - rect.top;
  if (!source || !target.pixels || destWidth <= 0 || destHeight <= 0 || sourceWidth <= 0 ||
      sourceHeight <= 0) {
    return;
  }
  const int x0 = std::max(rect.left, 0);
  const int x1 = std::min(rect.right, target.width);
  const int y0 = std::max(rect.top, 0);
  const int y1 = std::min(rect.bottom, target.height);
  if (x0 >= x1 || y0 >= y1) return;

  const std::vector<int> columns = StretchMap(destWidth, sourceWidth);
  const std::vector<int> rows = StretchMap(destHeight, sourceHeight);
  const size_t sourceStride = size_t(sourceWidth) * 4;
  const size_t targetStride = size_t(target.width) * 4;
  std::vector<std::pair<int, int>> written;  // [first, end) columns of the last row put
  for (int y = y0; y < y1; ++y) {
    uint8_t* targetRow = target.pixels + size_t(target.height - 1 - y) * targetStride;
    if (y > y0 && rows[y - rect.top] == rows[y - 1 - rect.top]) {
      // The row drawn before lies one row higher in the bottom-up buffer.
      const uint8_t* above = targetRow + targetStride;
      for (const auto& [first, end] : written) {
        std::memcpy(targetRow + size_t(first) * 4, above + size_t(first) * 4, size_t(end - first) * 4);
      }
      continue;
    }
    written.clear();
    const uint8_t* sourceRow = source + size_t(rows[y - rect.top]) * sourceStride;
    int runFirst = -1;
    for (int x = x0; x < x1; ++x) {
      if (put(targetRow + size_t(x) * 4, sourceRow + size_t(columns[x - rect.left]) * 4)) {
        if (runFirst < 0) runFirst = x;
      } else if (runFirst >= 0) {
        written.emplace_back(runFirst, x);
        runFirst = -1;
      }
    }
    if (runFirst >= 0) written.emplace_back(runFirst, x1);
  }
}

}  // namespace

void RenderPicture(const Picture* picture, const PixelTarget& target, const TargetRect& rect) {
  if (!picture) return;
  const uint8_t* source = picture->bgra.data();
  if (picture->hasTransparency) {
    Stretch(source, picture->width, picture->height, target, rect,
            [](uint8_t* dest, const uint8_t* src) {
              if (src[3] == 0) return false;
              dest[0] = src[0], dest[1] = src[1], dest[2] = src[2], dest[3] = 0;
              return true;
            });
  } else {
    Stretch(source, picture->width, picture->height, target, rect,
            [](uint8_t* dest, const uint8_t* src) {
              dest[0] = src[0], dest[1] = src[1], dest[2] = src[2], dest[3] = 0;
              return true;
            });
  }
}

void StretchBitmap(const PremultipliedBitmap& bitmap, const PixelTarget& target,
                   const TargetRect& rect) {
  if (bitmap.width > INT32_MAX || bitmap.height > INT32_MAX) return;
  if (bitmap.pixels.size() < uint64_t(bitmap.width) * bitmap.height * 4) return;
  Stretch(bitmap.pixels.data(), int(bitmap.width), int(bitmap.height), target, rect,
          [](uint8_t* dest, const uint8_t* src) {
            std::memcpy(dest, src, 4);
            return true;
          });
}
