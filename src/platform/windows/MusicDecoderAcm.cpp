// The music decoded to float samples on Windows, through the same Audio
// Compression Manager codec that plays it (AudioAcmMp3.cpp): what the studio
// draws as the waveform and finds the beats in. The codec's 16-bit samples
// become floats in -1..1.
//
// Links: msacm32 (through AudioAcmMp3.cpp).
#include <cstdint>
#include <vector>

#include "platform/Files.h"
#include "platform/MusicProbe.h"
#include "platform/windows/AudioAcmMp3.h"

struct MusicDecoder {
  AcmMp3Decoder* acm = nullptr;
  int channels = 0;
  std::vector<uint8_t> pcm;
};

MusicDecoder* OpenMusicDecoder(const char* path, MusicFileInfo& info, std::string& error) {
  info = {};
  std::vector<unsigned char> file;
  switch (ReadDataFile(path, file, LargestMusicFileBytes)) {
    case FileRead::Ok: break;
    case FileRead::CannotOpen: error = "cannot open the file"; return nullptr;
    case FileRead::ReadError: error = "cannot read the file"; return nullptr;
    case FileRead::TooLarge: error = "the file is too large"; return nullptr;
  }
  AcmMp3Decoder* acm = OpenAcmMp3Decoder(std::move(file), error);
  if (!acm) return nullptr;
  info.rate = AcmMp3Rate(acm);
  info.channels = AcmMp3Channels(acm);
  if (info.rate <= 0 || info.channels <= 0) {
    CloseAcmMp3Decoder(acm);
    error = "not an mp3 stream";
    info = {};
    return nullptr;
  }
  return new MusicDecoder{acm, info.channels, {}};
}

long ReadMusicSamples(MusicDecoder* decoder, float* out, long frames) {
  if (!decoder || frames <= 0) return 0;
  const size_t frameBytes = 2 * size_t(decoder->channels);
  decoder->pcm.resize(frameBytes * size_t(frames));
  // The codec fills what it is given unless the music ends (or a frame
  // fails to decode, which ends it too).
  const size_t got = DecodeAcmMp3(decoder->acm, decoder->pcm.data(), decoder->pcm.size()) / frameBytes;
  const size_t samples = got * size_t(decoder->channels);
  for (size_t i = 0; i < samples; ++i) {
    const int16_t sample = int16_t(uint16_t(decoder->pcm[2 * i]) | uint16_t(decoder->pcm[2 * i + 1]) << 8);
    out[i] = float(sample) / 32768.0f;
  }
  return long(got);
}

void CloseMusicDecoder(MusicDecoder* decoder) {
  if (!decoder) return;
  CloseAcmMp3Decoder(decoder->acm);
  delete decoder;
}
