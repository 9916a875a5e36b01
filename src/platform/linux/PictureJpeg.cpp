// Pictures service, picture loader backend: JPEG through libjpeg-turbo. Colour
// is converted without colour management (no ICC profiles).
#include "platform/linux/PictureInternal.h"

#include <cstdio>  // jpeglib.h needs FILE declared first

#include <jpeglib.h>

#include <csetjmp>
#include <new>

namespace picture_backend {

namespace {

// JPEG

struct JpegErrorTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  auto* trap = reinterpret_cast<JpegErrorTrap*>(info->err);
  std::longjmp(trap->jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

inline uint8_t MulDiv255(unsigned a, unsigned b) { return uint8_t((a * b + 127) / 255); }

// Fills picture from an already started decompression. CMYK arrives as four
// bytes a pixel; files with an Adobe marker store it inverted (0 is full ink),
// which is what nearly every CMYK JPEG in the wild does.
void ReadJpegRows(jpeg_decompress_struct& info, Picture& picture, bool cmyk, bool inverted) {
  std::vector<uint8_t> cmykRow(cmyk ? size_t(picture.width) * 4 : 0);
  while (info.output_scanline < info.output_height) {
    uint8_t* out = picture.bgra.data() + size_t(info.output_scanline) * picture.width * 4;
    JSAMPROW row = cmyk ? cmykRow.data() : out;
    if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
    if (!cmyk) continue;
    for (int x = 0; x < picture.width; ++x) {
      unsigned c = cmykRow[x * 4 + 0], m = cmykRow[x * 4 + 1];
      unsigned y = cmykRow[x * 4 + 2], k = cmykRow[x * 4 + 3];
      if (!inverted) {
        c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
      }
      // Now each value is the share of paper left: colour = (1-ink)(1-black).
      out[x * 4 + 0] = MulDiv255(y, k);
      out[x * 4 + 1] = MulDiv255(m, k);
      out[x * 4 + 2] = MulDiv255(c, k);
      out[x * 4 + 3] = 255;
    }
  }
}

}  // namespace

Picture* LoadJpeg(const uint8_t* data, size_t size) {
  jpeg_decompress_struct info;
  JpegErrorTrap trap;
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = JpegErrorExit;
  trap.manager.emit_message = JpegSilence;

  Picture* picture = new (std::nothrow) Picture;
  if (!picture) return nullptr;
  // Everything the jump may land on was set before setjmp and is not changed
  // after it, so no local needs to be volatile.
  if (setjmp(trap.jump)) {
    jpeg_destroy_decompress(&info);
    delete picture;
    return nullptr;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
    jpeg_destroy_decompress(&info);
    delete picture;
    return nullptr;
  }
  const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
  const bool inverted = cmyk && info.saw_Adobe_marker;
  info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  jpeg_calc_output_dimensions(&info);
  if (!AllocatePicture(*picture, int(info.output_width), int(info.output_height))) {
    jpeg_destroy_decompress(&info);
    delete picture;
    return nullptr;
  }
  jpeg_start_decompress(&info);
  ReadJpegRows(info, *picture, cmyk, inverted);
  // A file cut short still gives its complete rows; the rest were filled by
  // the library and the end marker is not insisted on.
  jpeg_abort_decompress(&info);
  jpeg_destroy_decompress(&info);
  return picture;
}

}  // namespace picture_backend
