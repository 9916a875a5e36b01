// Music probe on Windows: decodes every frame through the Audio Compression
// Manager's MPEG layer-3 codec (AudioAcmMp3.cpp), so the length is what the
// audio service will play, not an estimate from the frame headers.
//
// Links: msacm32.
#include <vector>

#include "platform/Files.h"
#include "platform/MusicProbe.h"
#include "platform/windows/AudioAcmMp3.h"

bool ProbeMusicFile(const char* path, MusicFileInfo& info, std::string& error) {
  info = {};
  std::vector<unsigned char> file;
  switch (ReadDataFile(path, file, LargestMusicFileBytes)) {
    case FileRead::Ok:
      break;
    case FileRead::CannotOpen:
      error = "cannot open the file";
      return false;
    case FileRead::ReadError:
      error = "cannot read the file";
      return false;
    case FileRead::TooLarge:
      error = "the file is too large";
      return false;
  }
  AcmMp3Decoder* decoder = OpenAcmMp3Decoder(std::move(file), error);
  if (!decoder) return false;
  std::vector<uint8_t> buffer(1 << 16);
  uint64_t total = 0;
  for (size_t got; (got = DecodeAcmMp3(decoder, buffer.data(), buffer.size())) > 0;) total += got;
  const long rate = AcmMp3Rate(decoder);
  const int channels = AcmMp3Channels(decoder);
  bool ok = false;
  if (!AcmMp3Failure(decoder).empty()) {
    error = "decoding stopped: " + AcmMp3Failure(decoder);
  } else if (total == 0) {
    error = "no audio frames";
  } else {
    info.rate = rate;
    info.channels = channels;
    info.seconds = double(total) / (double(rate) * channels * 2);
    ok = true;
  }
  CloseAcmMp3Decoder(decoder);
  return ok;
}
