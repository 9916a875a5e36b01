// Offscreen GL where the build has none (Windows so far): every context is
// refused with the reason, so that stills and captures say why at run time
// instead of the build leaving them out.
#include "platform/OffscreenGl.h"

#include "platform/BuildServices.h"

bool OpenOffscreenGl(int, int, int, std::string& error) {
  error = std::string("offscreen GL ") + NotInThisBuild;
  return false;
}

int OffscreenSampleCount() { return 0; }
const char* OffscreenRenderer() { return ""; }
void QueueOffscreenReadback() {}
int QueuedOffscreenReadbacks() { return 0; }
bool TakeOffscreenReadback(uint8_t*) { return false; }
void CloseOffscreenGl() {}
