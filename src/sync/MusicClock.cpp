// Music stream and clock: the music's play position is the demo's timeline.
#include "sync/MusicClock.h"

#include <string>
#include <vector>

#include "platform/Audio.h"
#include "platform/Files.h"
#include "platform/Mp3Frames.h"
#include "sync/Tracks.h"

uint32_t MusicStream = 0;
Track* FrameTrackHandles[FrameTrackCount] = {};

namespace {

constexpr int OutputFrequency = 44100;

}  // namespace

std::string ShowMusicPath() { return ShowFilePath(MusicFileName); }

std::optional<double> MusicFileEndRow(const std::string& path) {
  std::vector<unsigned char> bytes;
  Mp3Frames music;
  std::string error;
  if (ReadDataFile(path.c_str(), bytes) != FileRead::Ok || !FindMp3Frames(bytes.data(), bytes.size(), music, error)) {
    return std::nullopt;
  }
  return music.Seconds() * RowsPerSecond;
}

void InitMusicAndTracks(bool readTrackFiles) {
  // Neither failure stops the show: without a device or a file the stream
  // runs silently on the monotonic clock, and the audio layer says so.
  AudioOpenOutput(OutputFrequency);
  MusicStream = AudioOpenStream(ShowMusicPath().c_str());
  RequestShowTracks(readTrackFiles);
}

void RequestShowTracks(bool readTrackFiles) {
  CreateTrackSet("sync");
  Track* (*const request)(const char*) = readTrackFiles ? GetTrack : RegisterTrack;
  for (std::size_t i = 0; i < FrameTrackCount; ++i) FrameTrackHandles[i] = request(FrameTracks[i].name);
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
