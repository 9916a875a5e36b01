// Audio service on SDL2 (output) and mpg123 (decoding).
//
// mpg123 decodes the mp3 at its own rate and channel count to 16-bit samples;
// an SDL_AudioStream converts them to whatever the device accepted, so any
// file plays at the right speed. Decoding happens in the device's callback,
// a few kilobytes at a time.
//
// The clock. The device pulls audio in buffers; each callback hands over one
// buffer, which is heard after the buffer handed over before it. So when a
// callback runs, the previous buffer starts being heard: the position is that
// buffer's first music frame plus the time since the callback, never more than
// the music that buffer holds. Between callbacks the position therefore grows
// with the monotonic clock, and it waits (rather than running ahead and
// stepping back) when a callback is late. At the end of the music buffers
// hold no more music and the position stays at the end.
//
// Callbacks come with a jitter of several milliseconds, so that position
// stalls and leaps by as much. What the readers get is a smoothed clock: it
// runs at the device's nominal rate from its last value and closes the gap to
// the callback-derived position over ClockSmoothingSeconds, so jitter is
// filtered out while real drift of the device (a driver that falls behind
// under load) is still followed. A gap of more than ClockSnapSeconds is no
// jitter and is taken at once.
//
// Seeking repositions the decoder with the device locked and starts the clock
// again at the new place; the buffers already handed to the device still play
// out, so the position holds there until the first buffer from the new place
// is heard. Pausing keeps the device running on silence (so resuming costs no
// device start-up) and remembers the position heard; resuming seeks there,
// because what the decoder had already prepared was never heard.
//
// A device that goes away. SDL says so with an SDL_AUDIODEVICEREMOVED event
// (caught by an event watch, on whichever thread sends it) and by the
// device's status; a device that simply stops calling back for a second is
// taken as gone too. The next reading of the position notices: the position
// carries on from its last value on the monotonic clock as a silent
// stream's would, the callback stops touching the decoder, and one line on
// stderr says so. Every RetrySeconds a reading asks for SDL's default device
// again. Closing a device joins its thread and opening one takes a driver
// tens of milliseconds, or hangs, while the readers are the frame thread:
// so the old device is closed, the new one opened and a converter for its
// format made on a thread of the service's own, one attempt at a time. A
// later reading takes the device found (if any) and the decoder goes on from
// the position then. From the hand-over on, the lost device's id is the
// worker's alone: the frame thread neither locks nor pauses it, and its
// callback, which already leaves the stream alone once the device is lost,
// is joined by the close before anything it could read changes.
//
// A grain (AudioPlayGrain) plays a few buffers of music from anywhere while
// the stream is paused: the callback decodes it as it would the music, but
// counts none of it on the clock, and shapes its ends so that they do not
// click. A seek or a resume puts the decoder back where the position says.
//
// Limitations: SDL reports no latency beyond its buffer size, so a device that
// queues more than one buffer is heard slightly later than the position says.
// Without a device, or without a decodable file, the stream plays silently on
// the monotonic clock, to the file's length when the file could be scanned.
// A file that decodes to less than its encoder's tag announces (cut short in
// copying) plays what it holds, then the rest of the announced length
// silently on the monotonic clock, so that the show still reaches its end.
#include "platform/Audio.h"

#include <SDL.h>
#include <mpg123.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/AudioClock.h"
#include "platform/AudioTesting.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/MusicProbe.h"  // how damaged music is told

namespace {

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// About 23 ms per buffer at 44100 Hz. Drivers that pace themselves by
// sleeping a buffer's duration in whole milliseconds (SDL's dummy driver does)
// keep closer to real time with longer buffers: 23 ms of sleep for 23.2 ms of
// audio runs 1 % fast, 11 ms for 11.6 ms runs 5 % fast and wanders more.
// A power of two: SDL 2.26 overruns the callback's buffer when the device's
// own buffer is rounded to one and ours is not.
constexpr Uint16 DeviceBufferFrames = 1024;
// A device that has not asked for audio for this long has stopped.
constexpr int64_t StalledDeviceNs = 1000000000;
// How often a lost device's replacement is looked for: each look keeps the
// driver busy a while, on the service's worker.
constexpr double RetrySecondsNormally = 2.0;

// The testing hooks' state (AudioTesting.h). Opening is read on the worker.
std::atomic<AudioDeviceFault> InjectedFault{AudioDeviceFault::None};
std::atomic<bool> OpenFails{false};
std::atomic<double> OpenDelaySeconds{0.0};
double RetrySeconds = RetrySecondsNormally;

// A look for another output after a loss, made by the service's worker.
// Everything here is under `lock`; the frame thread hands an attempt over
// and takes its outcome, and the worker touches nothing else of the service.
struct Reopening {
  std::mutex lock;
  std::condition_variable wake;  // an attempt asked for, or the service ending
  std::thread worker;            // started by the first attempt
  bool stopping = false;
  bool asked = false;     // an attempt waits for the worker
  bool underWay = false;  // asked, running, or over and not yet taken
  bool done = false;      // over: its outcome below is there to take
  // The attempt.
  SDL_AudioDeviceID closing = 0;  // the lost device, for the worker to close
  int frequency = 0;
  bool wantsConverter = false;    // a stream with a decoder waits for it
  long musicRate = 0;             // the converter's source format
  int musicChannels = 0;
  // Its outcome: a device opened paused (0: none) and its converter.
  SDL_AudioDeviceID opened = 0;
  SDL_AudioSpec have{};
  SDL_AudioStream* converter = nullptr;
};

struct AudioService {
  bool sdlAudioInitialized = false;
  SDL_AudioDeviceID device = 0;
  SDL_AudioSpec have{};
  int deviceFrameBytes = 0;
  bool outputStarted = false;

  // The stream; the decoder side is touched by the callback, so it changes
  // only with the device locked.
  uint32_t handle = 0;  // 0: no stream
  mpg123_handle* decoder = nullptr;
  SDL_AudioStream* converter = nullptr;
  std::vector<unsigned char> decodeBuffer;
  bool decoderDone = false;
  int64_t decodedFrames = 0;     // frames of the file decoded so far
  int64_t musicEndFrames = -1;   // device frames of music in all, once decoding ended
                                 // (the callback's copy; the readers use endFrames)
  long musicRate = SilentRate;
  int musicChannels = SilentChannels;
  double lengthSeconds = -1.0;  // -1: unknown
  double silentTailSeconds = 0.0;  // a damaged file: silence after its music
  bool silent = true;           // no device or no decodable file
  bool playing = false;
  bool paused = false;          // held by AudioPause, at pausedSeconds
  double pausedSeconds = 0.0;
  // A grain playing while paused: device frames still to play, of how many.
  int64_t grainLeft = 0;
  int64_t grainFrames = 0;
  double grainSeconds = -1.0;  // where the last one began

  // The device going away.
  std::atomic<bool> lost{false};         // given up: the stream runs silently
  std::atomic<SDL_AudioDeviceID> watchedDevice{0};  // whose removal the event watch looks for
  std::atomic<bool> removed{false};      // SDL said so (event watch)
  std::atomic<int64_t> lastPullNs{0};    // the callback's last run
  int64_t retryAtNs = 0;                 // when to look for another device
  bool watching = false;                 // the event watch is in place
  Reopening reopen;

  // The clock, shared between the callback and the readers.
  std::mutex clock;
  int64_t deliveredFrames = 0;   // device frames of music handed to the device
  int64_t heardStart = 0;        // the buffer now heard: first music frame,
  int64_t heardCount = 0;        // music frames it holds,
  int64_t heardSinceNs = 0;      // and when it began to be heard
  int64_t pendingStart = 0;      // the buffer handed over last, heard next
  int64_t pendingCount = 0;
  int64_t silentSinceNs = -1;    // silent streams: when playing began (-1: not yet)
  int64_t endFrames = -1;        // musicEndFrames as the callback last published it
  int64_t endHeardNs = -1;       // when the last music frame is heard (-1: not known yet)
  double lastSeconds = 0.0;      // the position never goes back
  SmoothedClock smooth;          // in device frames, from where playing was put
};

// Never freed while the process runs, except by ShutdownAudio after the
// device's thread has ended: exit-time destructors cannot pull it from under
// a callback.
AudioService* Service = nullptr;
bool AtExitRegistered = false;
// Handles stay unique across restarts, so a stale one never names a new stream.
uint32_t LastHandle = 0;

AudioService& TheService() {
  if (!Service) Service = new AudioService;
  if (!AtExitRegistered) {
    AtExitRegistered = true;
    std::atexit(ShutdownAudio);
  }
  return *Service;
}

void ResetClock(AudioService& s) {
  std::lock_guard<std::mutex> lock(s.clock);
  s.deliveredFrames = s.heardStart = s.heardCount = s.pendingStart = s.pendingCount = 0;
  s.heardSinceNs = NowNs();
  s.silentSinceNs = -1;
  s.endFrames = -1;
  s.endHeardNs = -1;
  s.lastSeconds = 0.0;
  s.smooth = SmoothedClock{};
}

// Silent streams start counting once both the output runs and the stream plays.
void StartSilentClockIfReady(AudioService& s) {
  if (!s.silent || !s.playing || !s.outputStarted) return;
  std::lock_guard<std::mutex> lock(s.clock);
  // From the position the stream was put at (0 unless it was played from
  // elsewhere or sought).
  if (s.silentSinceNs < 0) s.silentSinceNs = NowNs() - int64_t(s.lastSeconds * 1e9);
}

double ClampToMusic(const AudioService& s, double seconds) {
  if (s.lengthSeconds >= 0.0) seconds = std::min(seconds, s.lengthSeconds);
  return std::max(seconds, 0.0);
}

// Puts the decoder at `seconds` into the music, with nothing of the old place
// left in the converter. Called with the device locked.
void SeekDecoder(AudioService& s, double seconds) {
  if (!s.decoder || !s.converter) return;
  const int64_t musicFrame = int64_t(seconds * double(s.musicRate));
  // A failed seek leaves the decoder where it was; it is then treated as
  // ended, so that no music from the wrong place is played.
  s.decoderDone = mpg123_seek(s.decoder, off_t(musicFrame), SEEK_SET) < 0;
  SDL_AudioStreamClear(s.converter);
  s.decodedFrames = musicFrame;
  s.musicEndFrames = s.decoderDone ? musicFrame * s.have.freq / s.musicRate : -1;
}

// Puts decoder and clock at `seconds` into the music. Called with the device
// locked (when there is one), so that no callback sees half of it.
void Reposition(AudioService& s, double seconds) {
  seconds = ClampToMusic(s, seconds);
  SeekDecoder(s, seconds);
  s.grainLeft = 0;
  ResetClock(s);
  std::lock_guard<std::mutex> lock(s.clock);
  const int64_t deviceFrame = s.have.freq > 0 ? int64_t(seconds * double(s.have.freq)) : 0;
  s.deliveredFrames = s.heardStart = s.pendingStart = deviceFrame;
  // Until the first buffer from the new place is heard there is nothing to
  // follow: starting the nominal rate earlier would run ahead of the sound
  // by the buffers still queued from before.
  s.smooth.from = double(deviceFrame);
  s.lastSeconds = seconds;
  s.pausedSeconds = seconds;
  // A silent stream's clock restarts from here (StartSilentClockIfReady).
}

// Decodes until the converter holds `bytes` of device audio or the file ends.
void Refill(AudioService& s, int bytes) {
  const int sourceFrameBytes = s.musicChannels * DecodedSampleBytes;
  int idleReads = 0;  // a decoder that keeps returning nothing is treated as ended
  while (!s.decoderDone && SDL_AudioStreamAvailable(s.converter) < bytes) {
    size_t done = 0;
    const int rc = mpg123_read(s.decoder, s.decodeBuffer.data(), s.decodeBuffer.size(), &done);
    bool ended = rc != MPG123_OK && rc != MPG123_NEW_FORMAT;  // MPG123_DONE or an error
    if (done > 0) {
      idleReads = 0;
      s.decodedFrames += int64_t(done) / sourceFrameBytes;
      if (SDL_AudioStreamPut(s.converter, s.decodeBuffer.data(), int(done)) != 0) ended = true;
    } else if (++idleReads > 64) {
      ended = true;
    }
    if (ended) {
      // The converter's resampler holds back the last few hundred frames even
      // when flushed; silence after the music pushes them out, and the music
      // is counted only up to its true length in device frames.
      std::fill(s.decodeBuffer.begin(), s.decodeBuffer.end(), 0);
      SDL_AudioStreamPut(s.converter, s.decodeBuffer.data(), int(s.decodeBuffer.size()));
      SDL_AudioStreamFlush(s.converter);
      s.musicEndFrames = s.decodedFrames * s.have.freq / s.musicRate;
      s.decoderDone = true;
    }
  }
}

// Fades a grain in over its first frames and out over its last, so that its
// ends do not click. `first` is the index in the grain of the buffer's first
// frame. Float and 16-bit samples, which is what devices give here.
void ShapeGrain(const AudioService& s, Uint8* out, int64_t frames, int64_t first) {
  const int64_t fade = int64_t(GrainFadeSeconds * s.have.freq);
  const int channels = s.have.channels;
  for (int64_t i = 0; i < frames; ++i) {
    const float gain = GrainGain(first + i, s.grainFrames, fade);
    if (gain == 1.0f) continue;
    for (int c = 0; c < channels; ++c) {
      const int64_t n = i * channels + c;
      if (s.have.format == AUDIO_F32SYS) {
        reinterpret_cast<float*>(out)[n] *= gain;
      } else if (s.have.format == AUDIO_S16SYS) {
        Sint16& v = reinterpret_cast<Sint16*>(out)[n];
        v = Sint16(float(v) * gain);
      }
    }
  }
}

void SDLCALL FillDeviceBuffer(void* userdata, Uint8* out, int len) {
  AudioService& s = *static_cast<AudioService*>(userdata);
  if (InjectedFault.load() == AudioDeviceFault::StopsPulling) {
    // As a device that stopped would: nothing is taken, nothing is heard.
    std::memset(out, s.have.silence, size_t(len));
    return;
  }
  if (s.lost.load()) {
    // Given up: nothing of the stream is this device's to read any more;
    // the worker closes it.
    std::memset(out, s.have.silence, size_t(len));
    return;
  }
  s.lastPullNs.store(NowNs());
  int got = 0;
  const bool grain = s.paused && s.grainLeft > 0 && !s.silent && s.converter && s.deviceFrameBytes > 0;
  if (grain) {
    const int want = int(std::min<int64_t>(len / s.deviceFrameBytes, s.grainLeft)) * s.deviceFrameBytes;
    Refill(s, want);
    got = std::max(0, SDL_AudioStreamGet(s.converter, out, want));
    const int64_t frames = got / s.deviceFrameBytes;
    ShapeGrain(s, out, frames, s.grainFrames - s.grainLeft);
    s.grainLeft = frames > 0 ? s.grainLeft - frames : 0;  // the music's end ends it too
  } else if (s.playing && !s.silent && s.converter) {
    Refill(s, len);
    got = std::max(0, SDL_AudioStreamGet(s.converter, out, len));
  }
  if (got < len) std::memset(out + got, s.have.silence, size_t(len - got));
  // A grain is not where the music stands: none of it counts on the clock.
  int64_t musicFrames = s.deviceFrameBytes > 0 && !grain ? got / s.deviceFrameBytes : 0;
  if (s.musicEndFrames >= 0) {
    musicFrames = std::clamp<int64_t>(s.musicEndFrames - s.deliveredFrames, 0, musicFrames);
  }

  const int64_t now = NowNs();
  std::lock_guard<std::mutex> lock(s.clock);
  // The decoder side is the callback's own; the readers see the end through
  // the clock, under its lock.
  s.endFrames = s.musicEndFrames;
  s.heardStart = s.pendingStart;
  s.heardCount = s.pendingCount;
  s.heardSinceNs = now;
  s.pendingStart = s.deliveredFrames;
  s.pendingCount = musicFrames;
  s.deliveredFrames += musicFrames;
  // The moment the last music frame is heard, once the buffer holding it is.
  if (s.endFrames >= 0 && s.endHeardNs < 0 && s.heardStart + s.heardCount >= s.endFrames &&
      s.have.freq > 0) {
    s.endHeardNs = now + (s.endFrames - s.heardStart) * int64_t(1000000000) / s.have.freq;
  }
}

void FreeStream(AudioService& s) {
  if (s.converter) SDL_FreeAudioStream(s.converter);
  if (s.decoder) mpg123_delete(s.decoder);
  s.converter = nullptr;
  s.decoder = nullptr;
  s.playing = false;
  s.silent = true;
  s.decoderDone = false;
  s.decodedFrames = 0;
  s.musicEndFrames = -1;
  s.lengthSeconds = -1.0;
  s.grainLeft = 0;
  s.grainSeconds = -1.0;
  s.silentTailSeconds = 0.0;
  s.musicRate = SilentRate;
  s.musicChannels = SilentChannels;
}

// Opens and scans the file; null with `why` filled when it is not playable.
// announcedSeconds is the length the file's tag announces (an estimate from
// its size and bitrate when it has none; -1 when unknown).
mpg123_handle* OpenDecoder(const char* path, long& rate, int& channels, double& lengthSeconds,
                           double& announcedSeconds, std::string& why) {
  static const bool initialized = mpg123_init() == MPG123_OK;  // required by older mpg123
  if (!initialized) {
    why = "the mp3 decoder cannot be initialized";
    return nullptr;
  }
  int err = MPG123_OK;
  mpg123_handle* mh = mpg123_new(nullptr, &err);
  if (!mh) {
    why = mpg123_plain_strerror(err);
    return nullptr;
  }
  mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
  int encoding = 0;
  if (std::FILE* file = OpenDataFile(path, "rb")) {
    const bool empty = std::fgetc(file) == EOF;
    std::fclose(file);
    if (empty) {
      why = "the file is empty";
      mpg123_delete(mh);
      return nullptr;
    }
  } else {
    why = "the file cannot be opened";
    mpg123_delete(mh);
    return nullptr;
  }
  if (mpg123_open(mh, NativeDataPath(path).c_str()) != MPG123_OK ||
      mpg123_getformat(mh, &rate, &channels, &encoding) != MPG123_OK || rate <= 0 || channels <= 0) {
    std::string detail = mpg123_strerror(mh);
    if (!detail.empty() && detail.back() == '.') detail.pop_back();
    why = "no mp3 audio in it (" + detail + ")";
    mpg123_delete(mh);
    return nullptr;
  }
  // Fix the output format to the file's own rate and channels, so that it
  // cannot change in the middle of the stream.
  mpg123_format_none(mh);
  if (mpg123_format(mh, rate, channels, MPG123_ENC_SIGNED_16) != MPG123_OK) {
    why = mpg123_strerror(mh);
    mpg123_delete(mh);
    return nullptr;
  }
  lengthSeconds = -1.0;
  const off_t announced = mpg123_length(mh);  // before the scan replaces it
  announcedSeconds = announced > 0 ? double(announced) / double(rate) : -1.0;
  if (mpg123_scan(mh) == MPG123_OK) {
    const off_t frames = mpg123_length(mh);
    if (frames == 0) {
      // Played, it would stop the clock at 0: treat it as no music at all.
      why = "no audio frames";
      mpg123_delete(mh);
      return nullptr;
    }
    if (frames > 0) lengthSeconds = double(frames) / double(rate);
  }
  mpg123_seek(mh, 0, SEEK_SET);
  return mh;
}

// SDL's word that a device went away; runs on the thread that sends it.
int SDLCALL WatchDeviceEvents(void* userdata, SDL_Event* event) {
  AudioService& s = *static_cast<AudioService*>(userdata);
  const SDL_AudioDeviceID device = s.watchedDevice.load();
  if (event->type == SDL_AUDIODEVICEREMOVED && !event->adevice.iscapture && device != 0 &&
      event->adevice.which == device) {
    s.removed.store(true);
  }
  return 1;
}

// Opens the default output at this rate, paused, for the service's callback;
// 0 (with SDL's reason in why) when there is none. Touches nothing of the
// service, so that the worker can call it.
SDL_AudioDeviceID OpenDefaultOutput(AudioService& s, int frequency, SDL_AudioSpec& have, std::string& why) {
  if (OpenFails.load()) {
    why = "no output device";
    return 0;
  }
  SDL_AudioSpec want{};
  want.freq = frequency > 0 ? frequency : 44100;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = DeviceBufferFrames;
  want.callback = FillDeviceBuffer;
  want.userdata = &s;
  // Whatever the device prefers: the converter adapts the music to it.
  const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_ANY_CHANGE);
  if (!device) why = SDL_GetError();
  return device;
}

// Makes an opened device, still paused, the service's.
void UseDevice(AudioService& s, SDL_AudioDeviceID device, const SDL_AudioSpec& have) {
  s.device = device;
  s.have = have;
  s.deviceFrameBytes = int(SDL_AUDIO_BITSIZE(s.have.format) / 8) * s.have.channels;
  s.removed.store(false);
  s.lastPullNs.store(NowNs());
  s.watchedDevice.store(device);
  if (!s.watching) {
    SDL_AddEventWatch(WatchDeviceEvents, &s);
    s.watching = true;
  }
}

bool OpenDevice(AudioService& s, int frequency, std::string& why) {
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID device = OpenDefaultOutput(s, frequency, have, why);
  if (device) UseDevice(s, device, have);
  return device != 0;
}

// The position at nowNs in seconds of music, never before the last one read.
// Called with the clock locked.
double PositionSeconds(AudioService& s, int64_t now) {
  double seconds = 0.0;
  if (s.paused) {
    seconds = s.pausedSeconds;
  } else if (s.silent) {
    if (s.silentSinceNs >= 0) seconds = double(now - s.silentSinceNs) * 1e-9;
    if (s.lengthSeconds >= 0.0) seconds = std::min(seconds, s.lengthSeconds);
  } else if (s.have.freq > 0) {
    const double elapsedFrames = double(now - s.heardSinceNs) * 1e-9 * double(s.have.freq);
    const double heard = double(s.heardStart) + std::min(std::max(elapsedFrames, 0.0), double(s.heardCount));
    s.smooth.rate = double(s.have.freq);
    seconds = AdvanceSmoothedClock(s.smooth, heard, now, double(s.endFrames)) / s.smooth.rate;
    if (s.silentTailSeconds > 0.0 && s.endHeardNs >= 0 && now > s.endHeardNs) {
      // The music of a damaged file is over: its missing rest goes by silently.
      const double tail = std::min(double(now - s.endHeardNs) * 1e-9, s.silentTailSeconds);
      seconds = std::max(seconds, double(s.endFrames) / double(s.have.freq) + tail);
      // A seek into the silent rest starts it part-way: it still ends with the file.
      if (s.lengthSeconds >= 0.0) seconds = std::min(seconds, s.lengthSeconds);
    }
  }
  seconds = std::max(seconds, s.lastSeconds);
  s.lastSeconds = seconds;
  return seconds;
}

std::string ClockText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%d:%05.2f", int(seconds) / 60, seconds - 60.0 * double(int(seconds) / 60));
  return text;
}

// The device is gone: the stream goes on silently from where it stands.
void LoseDevice(AudioService& s, const char* why, int64_t now) {
  double seconds = 0.0;
  {
    std::lock_guard<std::mutex> lock(s.clock);
    seconds = s.lastSeconds;
    if (!s.paused && s.playing && s.smooth.rate > 0.0) {
      // Carried on from the clock's last value: no jump, nothing repeated.
      seconds = std::max(seconds, CarriedOnFrames(s.smooth, now, double(s.endFrames)) / s.smooth.rate);
    }
    seconds = ClampToMusic(s, seconds);
  }
  // A device that was removed still runs its thread; the callback only has
  // to leave the decoder alone from now on.
  SDL_LockAudioDevice(s.device);
  s.lost = true;
  s.silent = true;
  s.grainLeft = 0;
  SDL_UnlockAudioDevice(s.device);
  {
    std::lock_guard<std::mutex> lock(s.clock);
    s.lastSeconds = seconds;
    s.silentSinceNs = -1;
  }
  StartSilentClockIfReady(s);
  s.retryAtNs = now + int64_t(RetrySeconds * 1e9);
  Say(Subsystem::Audio, "the output device went away (%s) at %s; the music runs silently on the clock "
      "until an output opens again", why, ClockText(seconds).c_str());
}

// The worker: one attempt at a time, each closing the lost device (which
// joins its thread) and then opening the default output.
void RunReopening(AudioService* service) {
  Reopening& r = service->reopen;
  std::unique_lock<std::mutex> lock(r.lock);
  for (;;) {
    r.wake.wait(lock, [&r] { return r.stopping || r.asked; });
    if (r.stopping) return;  // a device still to close is ShutdownAudio's
    r.asked = false;
    const SDL_AudioDeviceID closing = std::exchange(r.closing, 0);
    const int frequency = r.frequency;
    const bool wantsConverter = r.wantsConverter;
    const long musicRate = r.musicRate;
    const int musicChannels = r.musicChannels;
    lock.unlock();
    // No callback of the lost device runs after this.
    if (closing) SDL_CloseAudioDevice(closing);
    lock.lock();
    const double delay = OpenDelaySeconds.load();
    if (delay > 0.0) {
      r.wake.wait_for(lock, std::chrono::duration<double>(delay), [&r] { return r.stopping; });
    }
    const bool stopping = r.stopping;
    lock.unlock();
    SDL_AudioSpec have{};
    std::string why;  // a retry that fails says nothing
    const SDL_AudioDeviceID opened = stopping ? 0 : OpenDefaultOutput(*service, frequency, have, why);
    SDL_AudioStream* converter = nullptr;
    if (opened && wantsConverter) {
      converter = SDL_NewAudioStream(AUDIO_S16SYS, Uint8(musicChannels), int(musicRate), have.format,
                                     have.channels, have.freq);
    }
    lock.lock();
    r.opened = opened;
    r.have = have;
    r.converter = converter;
    r.done = true;
  }
}

// Hands the lost device to the worker, to be closed, and asks it for another.
void StartReopening(AudioService& s, int64_t now) {
  s.retryAtNs = now + int64_t(RetrySeconds * 1e9);
  Reopening& r = s.reopen;
  std::lock_guard<std::mutex> lock(r.lock);
  r.closing = s.device;
  s.device = 0;
  s.watchedDevice.store(0);
  r.frequency = s.have.freq;
  r.wantsConverter = s.decoder != nullptr;
  r.musicRate = s.musicRate;
  r.musicChannels = s.musicChannels;
  r.asked = r.underWay = true;
  r.done = false;
  if (!r.worker.joinable()) r.worker = std::thread(RunReopening, &s);
  r.wake.notify_one();
}

// Takes the outcome of an attempt that is over: a device found goes on with
// the music where the clock is. True while an attempt is still under way.
bool TakeReopened(AudioService& s) {
  SDL_AudioDeviceID device = 0;
  SDL_AudioSpec have{};
  SDL_AudioStream* converter = nullptr;
  long converterRate = 0;
  int converterChannels = 0;
  {
    Reopening& r = s.reopen;
    std::lock_guard<std::mutex> lock(r.lock);
    if (!r.underWay) return false;
    if (!r.done) return true;
    r.underWay = r.done = false;
    device = std::exchange(r.opened, 0);
    have = r.have;
    converter = std::exchange(r.converter, nullptr);
    converterRate = r.musicRate;
    converterChannels = r.musicChannels;
  }
  if (!device) return false;  // none this time
  // Another stream may have been opened while the attempt ran.
  if (converter && (!s.decoder || converterRate != s.musicRate || converterChannels != s.musicChannels)) {
    SDL_FreeAudioStream(converter);
    converter = nullptr;
  }
  if (!converter && s.decoder) {
    converter = SDL_NewAudioStream(AUDIO_S16SYS, Uint8(s.musicChannels), int(s.musicRate), have.format,
                                   have.channels, have.freq);
  }
  double seconds = 0.0;
  {
    std::lock_guard<std::mutex> lock(s.clock);
    seconds = PositionSeconds(s, NowNs());
  }
  // Paused since it opened: its callback has not run yet.
  UseDevice(s, device, have);
  SDL_LockAudioDevice(s.device);
  if (s.converter) SDL_FreeAudioStream(s.converter);
  s.converter = converter;
  s.lost = false;
  s.silent = converter == nullptr;
  Reposition(s, seconds);
  SDL_UnlockAudioDevice(s.device);
  StartSilentClockIfReady(s);
  if (s.outputStarted) SDL_PauseAudioDevice(s.device, 0);
  Say(Subsystem::Audio, "an output device is there again; the music goes on at %s", ClockText(seconds).c_str());
  return false;
}

// Ends the worker, cutting short an attempt's wait, and closes what it left.
void StopReopening(AudioService& s) {
  Reopening& r = s.reopen;
  {
    std::lock_guard<std::mutex> lock(r.lock);
    r.stopping = true;
  }
  r.wake.notify_all();
  if (r.worker.joinable()) r.worker.join();
  if (r.closing) SDL_CloseAudioDevice(r.closing);
  if (r.opened) SDL_CloseAudioDevice(r.opened);
  if (r.converter) SDL_FreeAudioStream(r.converter);
  r.closing = r.opened = 0;
  r.converter = nullptr;
}

// Notices a device that went away, and after that looks for another now and
// then. Called by the readers of the position, on the main thread; never
// waits for the driver.
void WatchDevice(AudioService& s) {
  const int64_t now = NowNs();
  if (s.lost) {
    const bool underWay = TakeReopened(s);
    if (s.lost && !underWay && now >= s.retryAtNs) StartReopening(s, now);
    return;
  }
  if (!s.device || !s.outputStarted || s.silent) return;
  if (s.removed.exchange(false) || SDL_GetAudioDeviceStatus(s.device) == SDL_AUDIO_STOPPED) {
    LoseDevice(s, "the system removed it", now);
  } else if (now - s.lastPullNs.load() > StalledDeviceNs) {
    LoseDevice(s, "it stopped taking audio", now);
  }
}

}  // namespace

bool AudioOpenOutput(int frequency) {
  AudioService& s = TheService();
  // A lost device is being looked for again on the worker.
  if (s.device || s.lost) return true;
  if (!s.sdlAudioInitialized) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
      Say(Subsystem::Audio, "no audio output (%s); the music runs silently on the clock",
          SDL_GetError());
      return false;
    }
    s.sdlAudioInitialized = true;
  }
  std::string why;
  if (!OpenDevice(s, frequency, why)) {
    Say(Subsystem::Audio, "no audio output device (%s); the music runs silently on the clock", why.c_str());
    return false;
  }
  if (s.outputStarted) SDL_PauseAudioDevice(s.device, 0);  // started before it was opened
  return true;
}

uint32_t AudioOpenStream(const char* path) {
  AudioService& s = TheService();
  long rate = 0;
  int channels = 0;
  double length = -1.0, announced = -1.0;
  std::string why;
  const char* name = path ? path : "";
  mpg123_handle* mh = OpenDecoder(name, rate, channels, length, announced, why);
  SDL_AudioStream* converter = nullptr;
  if (mh && s.device && !s.lost) {
    converter = SDL_NewAudioStream(AUDIO_S16SYS, Uint8(channels), int(rate), s.have.format, s.have.channels,
                                   s.have.freq);
    if (!converter) {
      why = SDL_GetError();
      mpg123_delete(mh);
      mh = nullptr;
    }
  }
  double silentTail = 0.0;
  if (!mh) {
    Say(Subsystem::Music, "%s: %s; the show runs silently on the clock", name,
        why.c_str());
  } else if (length >= 0.0 && announced - length > DamagedMusicShortfallSeconds) {
    silentTail = announced - length;
    Say(Subsystem::Music, "%s: damaged after %.1f s of the %.1f s it announces; the rest plays silent",
        name, length, announced);
  }

  if (s.device) SDL_LockAudioDevice(s.device);
  FreeStream(s);
  s.handle = ++LastHandle;
  if (mh) {
    s.musicRate = rate;
    s.musicChannels = channels;
    s.lengthSeconds = length >= 0.0 ? length + silentTail : -1.0;
    s.silentTailSeconds = silentTail;
    if (converter || s.lost) {
      // While the device is lost the decoder waits for the next one.
      s.decoder = mh;
      s.converter = converter;
      s.decodeBuffer.resize(16384);
      s.silent = converter == nullptr;
    } else {
      mpg123_delete(mh);  // no device: only the length and the format were wanted
    }
  }
  ResetClock(s);
  if (s.device) SDL_UnlockAudioDevice(s.device);
  return s.handle;
}

void AudioStartOutput() {
  AudioService& s = TheService();
  if (s.outputStarted) return;
  s.outputStarted = true;
  s.lastPullNs.store(NowNs());
  if (s.device) SDL_PauseAudioDevice(s.device, 0);
  StartSilentClockIfReady(s);
}

void AudioPlayFromStart(uint32_t stream) { AudioPlayFrom(stream, 0.0); }

uint64_t AudioPositionBytes(uint32_t stream) {
  if (!Service || stream == 0 || stream != Service->handle) return 0;
  AudioService& s = *Service;
  WatchDevice(s);
  double seconds = 0.0;
  {
    std::lock_guard<std::mutex> lock(s.clock);
    seconds = PositionSeconds(s, NowNs());
  }
  return MusicSecondsToBytes(seconds, s.musicRate, s.musicChannels);
}

double AudioBytesToSeconds(uint32_t stream, uint64_t bytes) {
  long rate = SilentRate;
  int channels = SilentChannels;
  if (Service && stream != 0 && stream == Service->handle) {
    rate = Service->musicRate;
    channels = Service->musicChannels;
  }
  return MusicBytesToSeconds(bytes, rate, channels);
}

void ShutdownAudio() {
  if (!Service) return;
  AudioService& s = *Service;
  StopReopening(s);
  // Closing the device joins its thread: nothing below runs under a callback.
  if (s.device) SDL_CloseAudioDevice(s.device);
  s.device = 0;
  if (s.watching) SDL_DelEventWatch(WatchDeviceEvents, &s);
  FreeStream(s);
  if (s.sdlAudioInitialized) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  Service = nullptr;
  delete &s;
}

void AudioPlayFrom(uint32_t stream, double seconds) {
  AudioService& s = TheService();
  if (stream == 0 || stream != s.handle) return;
  if (s.device) SDL_LockAudioDevice(s.device);
  s.playing = true;
  s.paused = false;
  Reposition(s, seconds);
  if (s.device) SDL_UnlockAudioDevice(s.device);
  StartSilentClockIfReady(s);
}

void AudioSeek(uint32_t stream, double seconds) {
  if (!Service || stream == 0 || stream != Service->handle) return;
  AudioService& s = *Service;
  if (s.device) SDL_LockAudioDevice(s.device);
  Reposition(s, seconds);
  if (s.device) SDL_UnlockAudioDevice(s.device);
  StartSilentClockIfReady(s);
}

void AudioPause(uint32_t stream) {
  if (!Service || stream == 0 || stream != Service->handle || Service->paused) return;
  AudioService& s = *Service;
  // The position as heard right now is where the music will go on from.
  const double seconds = AudioBytesToSeconds(stream, AudioPositionBytes(stream));
  if (s.device) SDL_LockAudioDevice(s.device);
  s.paused = true;
  s.playing = false;  // the callback plays silence and the decoder rests
  s.pausedSeconds = seconds;
  if (s.device) SDL_UnlockAudioDevice(s.device);
}

void AudioResume(uint32_t stream) {
  if (!Service || stream == 0 || stream != Service->handle || !Service->paused) return;
  AudioService& s = *Service;
  // What the decoder and the device still held was never heard: go on from
  // the held position, not from where decoding had got to.
  AudioPlayFrom(stream, s.pausedSeconds);
}

void AudioPlayGrain(uint32_t stream, double seconds, double length) {
  if (!Service || stream == 0 || stream != Service->handle) return;
  AudioService& s = *Service;
  if (!s.paused || s.silent || !s.device || !s.converter || !(length > 0.0)) return;
  SDL_LockAudioDevice(s.device);
  s.grainSeconds = ClampToMusic(s, seconds);
  SeekDecoder(s, s.grainSeconds);
  s.grainFrames = s.grainLeft = std::max<int64_t>(1, int64_t(std::min(length, 10.0) * double(s.have.freq)));
  SDL_UnlockAudioDevice(s.device);
}

// --- Testing hooks (AudioTesting.h) ---

void InjectAudioDeviceFault(AudioDeviceFault fault) {
  InjectedFault.store(fault == AudioDeviceFault::StopsPulling ? fault : AudioDeviceFault::None);
  if (fault == AudioDeviceFault::None || fault == AudioDeviceFault::StopsPulling) return;
  // SDL has no failing write or position query to show: it reports any of
  // them as the device removed, which is what goes to the event watch here.
  if (!Service || !Service->device) return;
  SDL_Event event{};
  event.type = SDL_AUDIODEVICEREMOVED;
  event.adevice.which = Service->device;
  event.adevice.iscapture = 0;
  SDL_PushEvent(&event);
}

void SetAudioDeviceOpenFails(bool fails) { OpenFails.store(fails); }

void SetAudioDeviceOpenDelaySeconds(double seconds) { OpenDelaySeconds.store(std::max(seconds, 0.0)); }

void SetAudioDeviceRetrySeconds(double seconds) {
  RetrySeconds = seconds >= 0.0 ? std::max(seconds, 0.05) : RetrySecondsNormally;
}

void SetAudioStandInDevice(bool) {}

bool AudioDeviceLost() { return Service && Service->lost; }

double AudioLastGrainSeconds() { return Service ? Service->grainSeconds : -1.0; }
