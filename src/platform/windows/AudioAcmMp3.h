// An mp3 decoder on the codec that ships with Windows: the Audio Compression
// Manager's MPEG layer-3 codec (msacm32), fed whole frames cut out of the file
// by FindMp3Frames. Gives signed 16-bit PCM at the file's own rate and channel
// count. Shared by the audio service and the music probe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Mp3Frames.h"

struct AcmMp3Decoder;

// Music files are read whole; past this size a file is no music but a mistake.
constexpr size_t LargestMusicFileBytes = size_t(1) << 30;

// A decoder over the file's bytes (taken over by the decoder), or null with
// the reason in why: no layer-3 frames, or no codec for their format.
AcmMp3Decoder* OpenAcmMp3Decoder(std::vector<uint8_t> file, std::string& why);

// The format of the decoded audio, and the music's length as its frames
// promise it (the codec may add a few hundred samples of its own delay).
long AcmMp3Rate(const AcmMp3Decoder* decoder);
int AcmMp3Channels(const AcmMp3Decoder* decoder);
double AcmMp3FramesSeconds(const AcmMp3Decoder* decoder);
// The length the encoder's notes at the start of the file (a Xing, Info or
// VBRI frame) announce, counted the same way; -1 when the file has none. A
// file whose frames fall well short of it was cut short.
double AcmMp3AnnouncedSeconds(const AcmMp3Decoder* decoder);

// Decodes up to capacity bytes (a whole number of sample frames) into out;
// 0 once the music has ended or the codec failed, in which case
// AcmMp3Failure says why (empty at a plain end).
size_t DecodeAcmMp3(AcmMp3Decoder* decoder, uint8_t* out, size_t capacity);
const std::string& AcmMp3Failure(const AcmMp3Decoder* decoder);

// Starts again from the first frame. False when the codec cannot be reopened.
bool RewindAcmMp3Decoder(AcmMp3Decoder* decoder);

// Starts again a few frames before the one that holds sample frame `target`
// of the decoded audio (counted as a decoding from the start counts them), so
// that a place deep in the music is reached without decoding all before it;
// the frames before it refill the codec's overlap and bit reservoir. `at` is
// the sample frame the next decoded one stands for (at most target): the
// caller drops target - at. False when the codec cannot be reopened.
bool PlaceAcmMp3Decoder(AcmMp3Decoder* decoder, uint64_t target, uint64_t& at);

void CloseAcmMp3Decoder(AcmMp3Decoder* decoder);
