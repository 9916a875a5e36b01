// Music stream and clock: the music's play position is the demo's timeline.
#include "sync/MusicClock.h"

#include "platform/Audio.h"
#include "sync/Tracks.h"

namespace {

constexpr int OutputFrequency = 44100;
const char* const MusicFile = "res/Quelf - Tavoy Rip.mp3";

}  // namespace

void InitMusicAndTracks() {
  // Neither failure stops the show: without a device or a file the stream
  // runs silently on the monotonic clock, and the audio layer says so.
  AudioOpenOutput(OutputFrequency);
  MusicStream = AudioOpenStream(MusicFile);

  CreateTrackSet("sync");
  BackN = GetTrack("back.n");
  BackX = GetTrack("back.x");
  BackY = GetTrack("back.y");
  BackR = GetTrack("back.r");
  BackG = GetTrack("back.g");
  BackB = GetTrack("back.b");
  BackScale = GetTrack("back.scale");
  BackRotX = GetTrack("back.rotx");
  BackRotY = GetTrack("back.roty");
  BackRotZ = GetTrack("back.rotz");
  ScrollX = GetTrack("scroll.x");
  ScrollY = GetTrack("scroll.y");
  ScrollR = GetTrack("scroll.r");
  Control = GetTrack("control");
}

void StartMusicPlayback(double fromRow) {
  AudioStartOutput();
  if (fromRow > 0.0) {
    AudioPlayFrom(MusicStream, fromRow / RowsPerSecond);
  } else {
    AudioPlayFromStart(MusicStream);
  }
}

double CurrentRow() {
  const uint64_t bytes = AudioPositionBytes(MusicStream);
  const double seconds = AudioBytesToSeconds(MusicStream, bytes);
  return seconds * RowsPerSecond;
}
