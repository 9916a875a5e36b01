// Music probe: decodes a music file from start to end without playing it, to
// tell whether the audio service will be able to play it and for how long.
#pragma once

#include <string>

// A file that decodes to this many seconds less than its header announces is
// damaged (cut short in copying); a smaller shortfall is the rounding of the
// encoder's delay and padding. The audio service judges files the same way.
inline constexpr double DamagedMusicShortfallSeconds = 0.5;

struct MusicFileInfo {
  double seconds = 0.0;  // decoded length
  long rate = 0;         // samples per second per channel
  int channels = 0;
};

// True with info filled when the whole file decodes; false with the reason in
// error otherwise (missing file, not an mp3, no audio frames, or damaged:
// decoding to less than the file announces, when info holds what decodes).
bool ProbeMusicFile(const char* path, MusicFileInfo& info, std::string& error);

// A music file decoded front to back as 32-bit float samples, channels
// interleaved, at the file's own rate and channel count (what video capture
// puts beside the pictures).
struct MusicDecoder;

// Opens the file for decoding; info gets its rate and channels (seconds stays
// 0: ProbeMusicFile measures the length). Null with the reason in error.
MusicDecoder* OpenMusicDecoder(const char* path, MusicFileInfo& info, std::string& error);
// Decodes up to frames sample frames (one sample per channel each) into out;
// returns how many, fewer only at the end of the music or on a damaged frame
// that ends decoding.
long ReadMusicSamples(MusicDecoder* decoder, float* out, long frames);
void CloseMusicDecoder(MusicDecoder* decoder);
