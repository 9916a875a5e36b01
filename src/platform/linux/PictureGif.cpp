// Pictures service, picture loader backend: GIF through giflib. The first
// image only (no animation, no disposal), placed on its logical screen.
#include "platform/linux/PictureInternal.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace picture_backend {

namespace {

struct GifInput {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int ReadGifBytes(GifFileType* gif, GifByteType* out, int wanted) {
  auto* in = static_cast<GifInput*>(gif->UserData);
  const size_t left = in->size - in->pos;
  const size_t count = std::min(left, static_cast<size_t>(std::max(wanted, 0)));
  std::memcpy(out, in->data + in->pos, count);
  in->pos += count;
  return static_cast<int>(count);
}

// Skips the sub-blocks of an extension, noting the transparent index of a
// graphic control extension. False on a read error.
bool ReadGifExtension(GifFileType* gif, int& transparentIndex) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4) {
    GraphicsControlBlock gcb;
    if (DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) {
      transparentIndex = gcb.TransparentColor;  // NO_TRANSPARENT_COLOR is -1
    }
  }
  while (block) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
  }
  return true;
}

// Reads the first image's rows into picture, the image placed at its offset on
// the logical screen, counting in opaque the pixels made opaque (each screen
// pixel is written at most once). False when a row cannot be read: the file
// is cut short or its image data are corrupt.
bool ReadGifImage(GifFileType* gif, Picture& picture, int transparentIndex, uint64_t& opaque) {
  const GifImageDesc& desc = gif->Image;
  const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
  const int width = desc.Width;
  const int height = desc.Height;
  std::vector<GifPixelType> line(static_cast<size_t>(std::max(width, 1)));

  // Interlaced images arrive in four passes: every 8th row from 0, every 8th
  // from 4, every 4th from 2, every 2nd from 1.
  static const int passStart[4] = {0, 4, 2, 1};
  static const int passStep[4] = {8, 8, 4, 2};
  const int passes = desc.Interlace ? 4 : 1;
  opaque = 0;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = desc.Interlace ? passStart[pass] : 0;
    const int step = desc.Interlace ? passStep[pass] : 1;
    for (int row = start; row < height; row += step) {
      if (DGifGetLine(gif, line.data(), width) != GIF_OK) return false;
      const int y = desc.Top + row;
      if (y < 0 || y >= picture.height) continue;
      uint8_t* out = picture.bgra.data() + size_t(y) * picture.width * 4;
      for (int col = 0; col < width; ++col) {
        const int x = desc.Left + col;
        if (x < 0 || x >= picture.width) continue;
        const int index = line[col];
        if (index == transparentIndex) continue;  // stays transparent
        uint8_t* px = out + size_t(x) * 4;
        if (map && index < map->ColorCount) {
          const GifColorType& c = map->Colors[index];
          px[0] = c.Blue;
          px[1] = c.Green;
          px[2] = c.Red;
        } else {
          px[0] = px[1] = px[2] = 0;  // an index past the table: black
        }
        px[3] = 255;
        ++opaque;
      }
    }
  }
  return true;
}

}  // namespace

Picture* LoadGif(const uint8_t* data, size_t size) {
  GifInput input{data, size, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&input, ReadGifBytes, &error);
  if (!gif) return nullptr;

  Picture* result = nullptr;
  int transparentIndex = NO_TRANSPARENT_COLOR;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) != GIF_OK) break;
    if (type == EXTENSION_RECORD_TYPE) {
      if (!ReadGifExtension(gif, transparentIndex)) break;
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) break;  // trailer before any image
    if (DGifGetImageDesc(gif) != GIF_OK) break;
    // The logical screen gives the picture's size; a file that leaves it 0
    // gets the extent of its image instead.
    int width = gif->SWidth;
    int height = gif->SHeight;
    if (width <= 0 || height <= 0) {
      width = gif->Image.Left + gif->Image.Width;
      height = gif->Image.Top + gif->Image.Height;
    }
    auto* picture = new (std::nothrow) Picture;
    if (!picture) break;
    if (!AllocatePicture(*picture, width, height)) {
      delete picture;
      break;
    }
    // A picture missing rows (the bottom, or every other band of an
    // interlaced one) would show as torn: none is better.
    uint64_t opaque = 0;
    if (!ReadGifImage(gif, *picture, transparentIndex, opaque)) {
      delete picture;
      break;
    }
    // Uncovered screen or a used transparent index leave holes.
    picture->hasTransparency = opaque != uint64_t(width) * uint64_t(height);
    result = picture;
    break;
  }
  DGifCloseFile(gif, &error);
  return result;
}

}  // namespace picture_backend
