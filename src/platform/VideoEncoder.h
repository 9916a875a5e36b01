// Video encoding service: pictures and sound into one H.264 + AAC file, MP4
// or Matroska, at an exact frame rate.
//
// What callers rely on:
// - Frames come in presentation order, one per 1/fps seconds: the n-th frame
//   is shown at n/fps whatever the time it took to make.
// - Sound samples come in order too; the sound starts with the first frame.
//   Feeding them in step with the frames keeps memory small; any split works.
// - FinishVideoEncoder writes what was handed in, complete and playable; an
//   encoder that is aborted or fails leaves its file incomplete, which is why
//   callers write to a pending file (Files.h).
// - One encoder may be fed from a thread other than the one that opened it,
//   but from one thread at a time.
#pragma once

#include <cstdint>
#include <string>

enum class VideoContainer { Mp4, Matroska };

// Matroska for a name ending in ".mkv" (any case), MP4 for everything else.
VideoContainer ContainerForPath(const std::string& path);

struct VideoEncoderSettings {
  std::string path;  // written as given, whatever its extension
  VideoContainer container = VideoContainer::Mp4;
  int width = 0;     // both even: H.264's 4:2:0 pictures come in 2 x 2 blocks
  int height = 0;
  int fps = 60;
  int audioRate = 0;       // the samples' rate; 0 for a file without sound
  int audioChannels = 0;   // the samples' channels; more than two are mixed down to two
};

struct VideoEncoder;

// Whether this system can encode into container at all (its H.264 and AAC
// encoders, a writer of the container), asked before any work is spent and
// any file is made. False with the reason, which names what is missing.
bool CheckVideoEncoding(VideoContainer container, std::string& why);

// Creates the file and the two encoders. Null with the reason in error.
VideoEncoder* OpenVideoEncoder(const VideoEncoderSettings& settings, std::string& error);

// Encodes one picture: width x height RGBA, rows bottom to top as GL reads them.
bool EncodeVideoFrame(VideoEncoder* encoder, const uint8_t* rgba, std::string& error);

// Encodes sample frames of interleaved float samples (audioChannels a frame).
bool EncodeAudioSamples(VideoEncoder* encoder, const float* samples, long frames, std::string& error);

// Drains both encoders, completes the file and frees the encoder, also when it
// fails (false with the reason in error).
bool FinishVideoEncoder(VideoEncoder* encoder, std::string& error);

// Frees the encoder and closes its file as it stands.
void AbortVideoEncoder(VideoEncoder* encoder);
