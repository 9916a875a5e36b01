// Onset detection where the build has no aubio (Windows): refused with the
// reason, so that demotool beats says why instead of finding nothing.
#include "Beats.h"
#include "platform/BuildServices.h"

bool DetectOnsets(const float*, std::size_t, long, MusicOnsets& found, std::string& error) {
  found = {};
  error = std::string("finding beats (aubio) ") + NotInThisBuild;
  return false;
}
