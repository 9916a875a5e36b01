// The PNG writer where the build has none (Windows so far): refuses with the
// reason.
#include "platform/PngWriter.h"

#include "platform/BuildServices.h"

bool WritePngBottomUp(const std::string&, const uint8_t*, int, int, std::string& error) {
  error = std::string("writing PNG files ") + NotInThisBuild;
  return false;
}
