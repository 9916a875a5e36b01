// Music probe on mpg123: decodes every frame, so the length is what will be
// heard, not an estimate from the file's header. The header's length still
// tells a file cut short in copying: it decodes to less than it announces.
#include <mpg123.h>

#include <cstdio>
#include <vector>

#include "platform/Files.h"
#include "platform/MusicProbe.h"

bool ProbeMusicFile(const char* path, MusicFileInfo& info, std::string& error) {
  info = {};
  std::FILE* probe = OpenDataFile(path, "rb");
  if (!probe) {
    error = "cannot open the file";
    return false;
  }
  std::fclose(probe);

#if MPG123_API_VERSION < 46
  mpg123_init();
#endif
  int status = MPG123_OK;
  mpg123_handle* handle = mpg123_new(nullptr, &status);
  if (!handle) {
    error = "no mp3 decoder available";
    return false;
  }
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
