// Windows draws stills and writes them (WGL, the Windows Imaging Component)
// and encodes video through Media Foundation, whose encoders a system may
// still lack at run time (N editions, Wine): the encoder refuses then, before
// any work. Media Foundation writes no Matroska. A service this platform has
// no backend for comes from src/platform/unavailable/.
#include "platform/BuildServices.h"

BuildServices ServicesInThisBuild() {
  return {.offscreenGl = true, .pngWriter = true, .videoEncoder = true, .matroska = false};
}
