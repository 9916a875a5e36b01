// PNG writer on libpng's simplified API.
#include "platform/PngWriter.h"

#include <png.h>

bool WritePngBottomUp(const std::string& path, const uint8_t* rgba, int width, int height,
                      std::string& error) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGBA;
  // A negative stride tells libpng that the first row in memory is the bottom one.
  const png_int_32 stride = -static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(image));
  if (!png_image_write_to_file(&image, path.c_str(), 0, rgba, stride, nullptr)) {
    error = image.message[0] ? image.message : "cannot write the PNG file";
    png_image_free(&image);
    return false;
  }
  return true;
}
