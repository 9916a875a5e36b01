// Music probe: decodes a music file from start to end without playing it, to
// tell whether the audio service will be able to play it and for how long.
#pragma once

#include <string>

struct MusicFileInfo {
  double seconds = 0.0;  // decoded length
  long rate = 0;         // samples per second per channel
  int channels = 0;
};

// True with info filled when the whole file decodes; false with the reason in
// error otherwise (missing file, not an mp3, no audio frames).
bool ProbeMusicFile(const char* path, MusicFileInfo& info, std::string& error);
