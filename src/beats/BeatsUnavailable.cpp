// Onset detection where the build has no aubio (Windows): refused with the
// reason, so that demotool beats and the studio say why instead of finding
// nothing.
#include "beats/Beats.h"
#include "platform/BuildServices.h"

bool BeatDetectionInThisBuild() { return false; }

bool DetectOnsets(const float*, std::size_t, long, MusicOnsets& found, std::string& error, const std::atomic<bool>*) {
  found = {};
  error = std::string("finding beats (aubio) ") + NotInThisBuild;
  return false;
}
