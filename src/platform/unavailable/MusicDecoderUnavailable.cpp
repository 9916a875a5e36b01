// Decoding the music to samples where the build has no such decoder (Windows
// so far, whose audio service decodes straight to the device): refused with
// the reason. ProbeMusicFile is the platform's own.
#include "platform/MusicProbe.h"

#include "platform/BuildServices.h"

MusicDecoder* OpenMusicDecoder(const char*, MusicFileInfo&, std::string& error) {
  error = std::string("decoding the music to samples ") + NotInThisBuild;
  return nullptr;
}

long ReadMusicSamples(MusicDecoder*, float*, long) { return 0; }
void CloseMusicDecoder(MusicDecoder*) {}
