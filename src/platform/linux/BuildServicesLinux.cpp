// Linux has every optional service: EGL for offscreen GL, libpng for stills,
// FFmpeg's libraries (opened when first used) and mpg123 for video capture.
#include "platform/BuildServices.h"

BuildServices ServicesInThisBuild() { return {.offscreenGl = true, .pngWriter = true, .videoEncoder = true, .matroska = true}; }
