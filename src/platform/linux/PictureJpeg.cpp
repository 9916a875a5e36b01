// Pictures service, picture loader backend: JPEG through libjpeg-turbo. Colour
// is converted without colour management (no ICC profiles).
#include "platform/linux/PictureInternal.h"

#include <cstdio>  // jpeglib.h needs FILE declared first

#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>
#include <new>

namespace picture_backend {

namespace {

// libjpeg reports errors by calling error_exit, which must not return: it
// long-jumps back into LoadJpeg. So between setjmp and the last libjpeg call
// no C++ object with a destructor may live on the stack (the jump would skip
// it); the CMYK row buffer comes from libjpeg's own pool for that reason.
struct JpegErrorTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  // Set after setjmp and read after the jump: volatile, so the jump cannot
  // bring back a stale copy.
  volatile bool progressive = false;  // known once the header is read
  volatile bool cutShort = false;     // the data ended before the image did
};

[[noreturn]] void JpegErrorExit(j_common_ptr info) {
  auto* trap = reinterpret_cast<JpegErrorTrap*>(info->err);
  std::longjmp(trap->jump, 1);
}

// Warnings are silent, except the one for data that end early. A baseline
// file cut short would give its top rows over a flat grey rest, so it is
// given up at once. A progressive file has its coarse scans of the whole
// picture first, so one cut in its refinements still shows the whole picture,
// less sharp; it is decoded to the end and counted as damaged.
void JpegWarning(j_common_ptr info, int level) {
  auto* trap = reinterpret_cast<JpegErrorTrap*>(info->err);
  if (level >= 0 || info->err->msg_code != JWRN_JPEG_EOF) return;
  trap->cutShort = true;
  if (!trap->progressive) std::longjmp(trap->jump, 1);
}

inline uint8_t MulDiv255(unsigned a, unsigned b) { return uint8_t((a * b + 127) / 255); }

// Fills picture from an already started decompression. CMYK arrives as four
// bytes a pixel; files with an Adobe marker store it inverted (0 is full ink),
// which is what nearly every CMYK JPEG in the wild does.
void ReadJpegRows(jpeg_decompress_struct& info, Picture& picture, bool cmyk, bool inverted) {
  JSAMPROW cmykRow = nullptr;
  if (cmyk) {
    cmykRow = (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                        JDIMENSION(picture.width) * 4, 1)[0];
  }
  while (info.output_scanline < info.output_height) {
    uint8_t* out = picture.bgra.data() + size_t(info.output_scanline) * picture.width * 4;
    JSAMPROW row = cmyk ? cmykRow : out;
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

Picture* LoadJpeg(const uint8_t* data, size_t size, bool& damaged) {
  jpeg_decompress_struct info;
  JpegErrorTrap trap;
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = JpegErrorExit;
  trap.manager.emit_message = JpegWarning;

  Picture* picture = new (std::nothrow) Picture;
  if (!picture) return nullptr;
  // Apart from trap's flags, everything the jump may land on was set before
  // setjmp and is not changed after it, so no other local needs to be volatile.
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
  trap.progressive = info.progressive_mode;
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
  // The end marker is not insisted on: the image is complete once its rows are.
  jpeg_abort_decompress(&info);
  jpeg_destroy_decompress(&info);
  damaged = trap.cutShort;
  return picture;
}

}  // namespace picture_backend
