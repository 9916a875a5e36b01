// Music probe on mpg123: decodes every frame, so the length is what will be
// heard, not an estimate from the file's header. The header's length still
// tells a file cut short in copying: it decodes to less than it announces.
#include <mpg123.h>

#include <cstdio>
#include <vector>

#include "platform/Files.h"
#include "platform/MusicProbe.h"

namespace {

// A decoder handle for the probe and for decoding, or null with the reason.
mpg123_handle* NewMp3Handle(std::string& error) {
#if MPG123_API_VERSION < 46
  mpg123_init();
#endif
  int status = MPG123_OK;
  mpg123_handle* handle = mpg123_new(nullptr, &status);
  if (!handle) error = "no mp3 decoder available";
  return handle;
}

}  // namespace

bool ProbeMusicFile(const char* path, MusicFileInfo& info, std::string& error) {
  info = {};
  std::FILE* probe = OpenDataFile(path, "rb");
  if (!probe) {
    error = "cannot open the file";
    return false;
  }
  std::fclose(probe);

  mpg123_handle* handle = NewMp3Handle(error);
  if (!handle) return false;
  bool ok = false;
  if (mpg123_open(handle, NativeDataPath(path).c_str()) != MPG123_OK) {
    error = mpg123_strerror(handle);
  } else {
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0) {
      error = "not an mp3 stream";
    } else {
      // The encoder's tag's length (or an estimate from size and bitrate).
      const off_t announced = mpg123_length(handle);
      const double announcedSeconds = announced > 0 ? double(announced) / double(rate) : -1.0;
      // Only the length matters: count decoded bytes, let the format ride.
      std::vector<unsigned char> buffer(1 << 16);
      size_t total = 0;
      int status = MPG123_OK;
      for (;;) {
        size_t done = 0;
        status = mpg123_read(handle, buffer.data(), buffer.size(), &done);
        total += done;
        if (status == MPG123_NEW_FORMAT) {
          mpg123_getformat(handle, &rate, &channels, &encoding);
          continue;
        }
        if (status != MPG123_OK) break;
      }
      const int bytesPerSample = mpg123_encsize(encoding);
      if (status != MPG123_DONE) {
        error = std::string("decoding stopped: ") + mpg123_strerror(handle);
      } else if (total == 0 || bytesPerSample <= 0 || channels <= 0) {
        error = "no audio frames";
      } else {
        info.rate = rate;
        info.channels = channels;
        info.seconds = static_cast<double>(total) / (static_cast<double>(bytesPerSample) * channels * rate);
        if (announcedSeconds - info.seconds > DamagedMusicShortfallSeconds) {
          char text[128];
          std::snprintf(text, sizeof text, "damaged after %.1f s of the %.1f s it announces", info.seconds,
                        announcedSeconds);
          error = text;
        } else {
          ok = true;
        }
      }
    }
    mpg123_close(handle);
  }
  mpg123_delete(handle);
  return ok;
}

struct MusicDecoder {
  mpg123_handle* handle = nullptr;
  int channels = 0;
  bool ended = false;
};

MusicDecoder* OpenMusicDecoder(const char* path, MusicFileInfo& info, std::string& error) {
  info = {};
  mpg123_handle* handle = NewMp3Handle(error);
  if (!handle) return nullptr;
  // Float output at whatever rate and channel count the file has; the format
  // has to be settled before the file is opened.
  mpg123_format_none(handle);
  const long* rates = nullptr;
  size_t rateCount = 0;
  mpg123_rates(&rates, &rateCount);
  bool floatOutput = rateCount > 0;
  for (size_t i = 0; i < rateCount; ++i) {
    floatOutput = floatOutput && mpg123_format(handle, rates[i], MPG123_MONO | MPG123_STEREO,
                                               MPG123_ENC_FLOAT_32) == MPG123_OK;
  }
  long rate = 0;
  int channels = 0, encoding = 0;
  if (!floatOutput) {
    error = "the mp3 decoder cannot produce float samples";
  } else if (mpg123_open(handle, NativeDataPath(path).c_str()) != MPG123_OK) {
    error = mpg123_strerror(handle);
  } else if (mpg123_getformat(handle, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 ||
             channels <= 0 || encoding != MPG123_ENC_FLOAT_32) {
    error = "not an mp3 stream";
  } else {
    info.rate = rate;
    info.channels = channels;
    return new MusicDecoder{handle, channels, false};
  }
  mpg123_close(handle);
  mpg123_delete(handle);
  return nullptr;
}

long ReadMusicSamples(MusicDecoder* decoder, float* out, long frames) {
  if (!decoder || frames <= 0) return 0;
  const size_t frameBytes = sizeof(float) * static_cast<size_t>(decoder->channels);
  unsigned char* bytes = reinterpret_cast<unsigned char*>(out);
  const size_t wanted = frameBytes * static_cast<size_t>(frames);
  size_t got = 0;
  while (got < wanted && !decoder->ended) {
    size_t done = 0;
    const int status = mpg123_read(decoder->handle, bytes + got, wanted - got, &done);
    got += done;
    if (status == MPG123_NEW_FORMAT) continue;
    if (status != MPG123_OK) decoder->ended = true;  // the end, or a frame that cannot be decoded
  }
  return static_cast<long>(got / frameBytes);
}

void CloseMusicDecoder(MusicDecoder* decoder) {
  if (!decoder) return;
  mpg123_close(decoder->handle);
  mpg123_delete(decoder->handle);
  delete decoder;
}
