// Windows has none of the optional services yet: src/platform/unavailable/
// stands in for offscreen GL, the PNG writer, the video encoder, the music's
// sample decoder and pending output files (see src/platform/CMakeLists.txt).
#include "platform/BuildServices.h"

BuildServices ServicesInThisBuild() { return {}; }
