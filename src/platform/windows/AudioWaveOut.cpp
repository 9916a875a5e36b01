// Audio service on Windows: the Audio Compression Manager's MPEG layer-3
// codec decodes (AudioAcmMp3.cpp), waveOut plays.
//
// Links: winmm, msacm32.
//
// The device is opened at the music's own rate and channel count, 16 bits a
// sample, so the decoded audio goes to it as it is; AudioOpenOutput opens it
// at the asked rate in stereo to learn whether there is one, and a stream of
// another format reopens it. The device starts paused: nothing is heard
// before AudioStartOutput, whatever has been queued.
//
// A feeder thread keeps BufferCount buffers queued: waveOut signals an event
// whenever it is done with one, and the thread decodes into every free
// buffer and hands it back. Everything the thread touches is guarded by one
// critical section, which the public calls take too.
//
// The clock. waveOutGetPosition says how many samples the device has played
// since the stream started, so the audio still queued is not counted. It
// moves in the steps of the device's mixer, with jitter; the readers get the
// smoothed clock of AudioClock.h over it, never more than what was queued,
// never past the music's end once decoding has reached it.
//
// A device that goes away (a headset unplugged): waveOutWrite or
// waveOutGetPosition fail, or the device simply stops: no buffer comes back
// and the position stands still for a second with audio queued. The stream
// then goes on silently from where the clock stood, carried on at the
// nominal rate (AudioClock.h), one line on stderr says so, and the device is
// closed. Every RetrySeconds a reading of the position tries WAVE_MAPPER
// again; once it opens, the decoder goes on from the position then. Every
// waveOut call goes through WaveOutCalls.h, where tests inject such faults.
//
// A grain (AudioPlayGrain) while paused: the decoder moves to the grain's
// place, and a buffer or two of it are queued outside the clock's count; a
// seek or a resume takes them back.
//
// Limitations: a device that cannot play the music's own rate is not offered
// a converted one (the stream then runs silently); devices report the played
// position, which may lead what the listener hears by the mixer's own
// latency. Without a device, or without a decodable file, the stream plays
// silently on the monotonic clock, to the length its frames give.
#include "platform/Audio.h"

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/AudioClock.h"
#include "platform/AudioTesting.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/MusicProbe.h"  // how damaged music is told
#include "platform/windows/AudioAcmMp3.h"
#include "platform/windows/WaveOutCalls.h"

namespace {

// Four buffers of about 46 ms at 44100 Hz: 0.14 s queued ahead of the one
// playing rides over a late feeder, and the queue is short enough that a
// restart is heard at once.
constexpr int BufferCount = 4;
constexpr DWORD BufferFrames = 2048;
// The feeder also looks around this often, in case an event was missed.
constexpr DWORD FeederWakeMs = 50;
// Further ahead than this, the decoder is placed anew rather than decoded on.
constexpr int64_t PlaceAheadFrames = 4 * 1152;
// A device that has given back no buffer, or whose position has not moved,
// for this long with audio queued has stopped.
constexpr int64_t StalledDeviceNs = 1000000000;
// How often a lost device's replacement is looked for.
constexpr double RetrySecondsNormally = 2.0;
double RetrySeconds = RetrySecondsNormally;

int64_t NowNs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  // Whole seconds and the rest apart, so that the product cannot overflow.
  const int64_t seconds = now.QuadPart / frequency.QuadPart;
  const int64_t rest = now.QuadPart % frequency.QuadPart;
  return seconds * 1000000000 + rest * 1000000000 / frequency.QuadPart;
}

std::string WaveOutError(MMRESULT result) {
  char text[MAXERRORLENGTH] = {};
  if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR) {
    return "waveOut error " + std::to_string(result);
  }
  return text;
}

struct AudioService {
  CRITICAL_SECTION lock;

  // The device.
  HWAVEOUT device = nullptr;
  WAVEFORMATEX format{};
  HANDLE bufferDone = nullptr;  // signalled by waveOut
  WAVEHDR headers[BufferCount] = {};
  std::vector<char> buffers[BufferCount];
  bool queued[BufferCount] = {};
  bool outputStarted = false;

  // The feeder thread.
  HANDLE feeder = nullptr;
  volatile LONG stopFeeder = 0;

  // The stream.
  uint32_t handle = 0;  // 0: no stream
  AcmMp3Decoder* decoder = nullptr;
  long musicRate = SilentRate;
  int musicChannels = SilentChannels;
  double lengthSeconds = -1.0;  // -1: unknown
  double silentTailSeconds = 0.0;  // a damaged file: silence after its music
  int64_t endHeardNs = -1;         // when the device had played the music's end
  int64_t repositionNs = 0;        // when the clock last started again
  bool silent = true;           // no device or no decodable file
  bool playing = false;
  bool paused = false;
  double pausedSeconds = 0.0;   // where a paused stream stands
  // Where the device's count starts, in seconds of music: the device counts
  // from 0 whenever its buffers are taken back, and a stream played from a
  // place or moved starts there.
  double offsetSeconds = 0.0;
  bool decoderDone = false;
  int64_t queuedFrames = 0;     // music frames handed to the device since the start
  int64_t musicEndFrames = -1;  // all of them, once decoding ended
  int64_t decodedFrames = 0;    // where the decoder stands, in frames of its output
  double grainSeconds = -1.0;   // where the last grain began

  // The device going away.
  bool lost = false;             // given up: the stream runs silently
  int64_t retryAtNs = 0;         // when to look for another device
  int64_t lastReturnNs = 0;      // when a buffer last came back (or none was out)
  int64_t lastMoveNs = 0;        // when the position last moved
  double lastDeviceFrames = -1.0;

  // The clock.
  SmoothedClock smooth;
  int64_t silentSinceNs = -1;  // silent streams: when playing began (-1: not yet)
  double lastSeconds = 0.0;    // the position never goes back

  AudioService() { InitializeCriticalSection(&lock); }
  ~AudioService() { DeleteCriticalSection(&lock); }
};

struct Locked {
  explicit Locked(AudioService& s) : s(s) { EnterCriticalSection(&s.lock); }
  ~Locked() { LeaveCriticalSection(&s.lock); }
  AudioService& s;
};

// Never freed while the process runs, except by ShutdownAudio after the
// feeder has ended: exit-time destructors cannot pull it from under the
// thread.
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

// Called with the lock held.
void ResetClock(AudioService& s) {
  s.smooth = SmoothedClock{};
  s.silentSinceNs = -1;
  s.lastSeconds = 0.0;
  s.lastReturnNs = s.lastMoveNs = NowNs();
  s.lastDeviceFrames = -1.0;
  s.endHeardNs = -1;
  s.repositionNs = NowNs();
}

// Silent streams start counting once both the output runs and the stream
// plays. Called with the lock held.
void StartSilentClockIfReady(AudioService& s) {
  if (s.silent && s.playing && s.outputStarted && s.silentSinceNs < 0) s.silentSinceNs = NowNs();
}

void LoseDevice(AudioService& s, const std::string& why);

// Decodes into every buffer the device is done with and queues it. Called
// with the lock held.
void FillFreeBuffers(AudioService& s) {
  if (!s.device || !s.decoder || s.silent || !s.playing) return;
  bool outstanding = false;
  for (int i = 0; i < BufferCount; ++i) {
    if (!s.queued[i]) continue;
    if (WaveOut().done(s.headers[i])) {
      s.queued[i] = false;
      s.lastReturnNs = NowNs();
    } else {
      outstanding = true;
    }
  }
  if (!outstanding) s.lastReturnNs = NowNs();  // nothing out: nothing overdue
  for (int i = 0; i < BufferCount && !s.decoderDone; ++i) {
    WAVEHDR& h = s.headers[i];
    if (s.queued[i]) continue;
    const size_t got = DecodeAcmMp3(s.decoder, reinterpret_cast<uint8_t*>(h.lpData), s.buffers[i].size());
    s.decodedFrames += int64_t(got / s.format.nBlockAlign);
    if (got < s.buffers[i].size()) {
      s.decoderDone = true;
      if (!AcmMp3Failure(s.decoder).empty()) {
        Say(Subsystem::Audio, "%s; the music stops here", AcmMp3Failure(s.decoder).c_str());
      }
    }
    if (got > 0) {
      h.dwBufferLength = DWORD(got);
      h.dwFlags &= ~DWORD(WHDR_DONE);
      const MMRESULT result = WaveOut().write(s.device, &h);
      if (result != MMSYSERR_NOERROR) {
        LoseDevice(s, "a write to it failed: " + WaveOutError(result));
        return;
      }
      s.queued[i] = true;
      s.queuedFrames += int64_t(got / s.format.nBlockAlign);
    }
    if (s.decoderDone) s.musicEndFrames = s.queuedFrames;
  }
}

DWORD WINAPI Feed(void* parameter) {
  AudioService& s = *static_cast<AudioService*>(parameter);
  while (!InterlockedCompareExchange(&s.stopFeeder, 0, 0)) {
    WaitForSingleObject(s.bufferDone, FeederWakeMs);
    Locked locked(s);
    FillFreeBuffers(s);
  }
  return 0;
}

// Takes every buffer back from the device; the position starts from 0 again.
// Called with the lock held.
void ReclaimBuffers(AudioService& s) {
  if (!s.device) return;
  WaveOut().reset(s.device);
  for (bool& q : s.queued) q = false;
  s.queuedFrames = 0;
  s.musicEndFrames = -1;
  s.decoderDone = false;
  s.lastReturnNs = NowNs();
}

void CloseDevice(AudioService& s) {
  if (!s.device) return;
  // The calls may fail for a device that has gone: it is let go all the same.
  WaveOut().reset(s.device);
  for (int i = 0; i < BufferCount; ++i) {
    if (s.headers[i].dwFlags & WHDR_PREPARED) WaveOut().unprepare(s.device, &s.headers[i]);
    s.headers[i] = WAVEHDR{};
    s.queued[i] = false;
  }
  WaveOut().close(s.device);
  s.device = nullptr;
}

// Opens the device paused at this format with its buffers prepared. Called
// with the lock held.
MMRESULT OpenDevice(AudioService& s, long rate, int channels) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = WORD(channels);
  format.nSamplesPerSec = DWORD(rate);
  format.wBitsPerSample = 16;
  format.nBlockAlign = WORD(channels * DecodedSampleBytes);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  HWAVEOUT device = nullptr;
  const MMRESULT result = WaveOut().open(&device, &format, s.bufferDone);
  if (result != MMSYSERR_NOERROR) return result;
  WaveOut().pause(device);
  s.device = device;
  s.format = format;
  for (int i = 0; i < BufferCount; ++i) {
    s.buffers[i].assign(size_t(BufferFrames) * format.nBlockAlign, 0);
    WAVEHDR& h = s.headers[i];
    h = WAVEHDR{};
    h.lpData = s.buffers[i].data();
    h.dwBufferLength = DWORD(s.buffers[i].size());
    const MMRESULT prepared = WaveOut().prepare(device, &h);
    if (prepared != MMSYSERR_NOERROR) {
      CloseDevice(s);
      return prepared;
    }
  }
  if (s.outputStarted) WaveOut().restart(device);  // started before it was opened
  return MMSYSERR_NOERROR;
}

void FreeStream(AudioService& s) {
  ReclaimBuffers(s);
  CloseAcmMp3Decoder(s.decoder);
  s.decoder = nullptr;
  s.decodedFrames = 0;
  s.grainSeconds = -1.0;
  s.playing = false;
  s.paused = false;
  s.offsetSeconds = 0.0;
  s.silent = true;
  s.lengthSeconds = -1.0;
  s.silentTailSeconds = 0.0;
  s.musicRate = SilentRate;
  s.musicChannels = SilentChannels;
}

double ClampToMusic(const AudioService& s, double seconds) {
  if (s.lengthSeconds >= 0.0) seconds = std::min(seconds, s.lengthSeconds);
  return std::max(seconds, 0.0);
}

// Puts the decoder at `seconds` into the music. The codec starts again a few
// frames before the place, and what lies between is decoded and dropped; a
// place a little ahead is reached by decoding on. False (said on stderr, the
// decoder closed) when the codec cannot start again. Called with the lock
// held, the device's buffers taken back.
bool MoveDecoder(AudioService& s, double seconds) {
  const int64_t target = int64_t(seconds * double(s.musicRate));
  bool ok = true;
  if (target < s.decodedFrames || target - s.decodedFrames > PlaceAheadFrames || s.decoderDone) {
    uint64_t at = 0;
    ok = PlaceAcmMp3Decoder(s.decoder, uint64_t(target), at);
    s.decodedFrames = int64_t(at);
  }
  const size_t frameBytes = size_t(s.musicChannels) * DecodedSampleBytes;
  uint64_t skip = uint64_t(std::max<int64_t>(target - s.decodedFrames, 0)) * frameBytes;
  std::vector<uint8_t> scratch(size_t(BufferFrames) * frameBytes);
  while (ok && skip > 0) {
    const size_t got = DecodeAcmMp3(s.decoder, scratch.data(), size_t(std::min<uint64_t>(skip, scratch.size())));
    if (got == 0) break;  // the place is past what decodes: the music has ended there
    skip -= got;
    s.decodedFrames += int64_t(got / frameBytes);
  }
  if (!ok) {
    Say(Subsystem::Audio, "%s; the show runs silently on the system clock", AcmMp3Failure(s.decoder).c_str());
    CloseAcmMp3Decoder(s.decoder);
    s.decoder = nullptr;
    s.decodedFrames = 0;
    s.silent = true;
  }
  return ok;
}

// Moves the stream to `seconds` (clamped to the music): the device's buffers
// are taken back and the decoder goes on from there. Called with the lock
// held.
void Reposition(AudioService& s, double seconds) {
  seconds = ClampToMusic(s, seconds);
  if (s.decoder && s.device && !s.silent) {
    ReclaimBuffers(s);
    MoveDecoder(s, seconds);
  }
  ResetClock(s);
  s.offsetSeconds = seconds;
  s.lastSeconds = seconds;
  s.pausedSeconds = seconds;
}

std::string ClockText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%d:%05.2f", int(seconds) / 60, seconds - 60.0 * double(int(seconds) / 60));
  return text;
}

// The device is gone: the stream goes on silently from where it stands.
// Called with the lock held.
void LoseDevice(AudioService& s, const std::string& why) {
  const int64_t now = NowNs();
  double seconds = s.lastSeconds;
  if (!s.paused && s.playing && !s.silent && s.smooth.rate > 0.0) {
    // Carried on from the clock's last value: no jump, nothing repeated.
    seconds = std::max(seconds, s.offsetSeconds + CarriedOnFrames(s.smooth, now, double(s.musicEndFrames)) /
                                                      s.smooth.rate);
  }
  seconds = ClampToMusic(s, seconds);
  CloseDevice(s);
  s.lost = true;
  s.silent = true;
  ResetClock(s);
  s.offsetSeconds = seconds;
  s.lastSeconds = seconds;
  StartSilentClockIfReady(s);
  s.retryAtNs = now + int64_t(RetrySeconds * 1e9);
  Say(Subsystem::Audio, "the output device went away (%s) at %s; the music runs silently on the clock "
      "until an output opens again", why.c_str(), ClockText(seconds).c_str());
}

// Looks for another output after a loss; the music goes on where the clock
// is. Called with the lock held.
void TryReopen(AudioService& s, int64_t now) {
  s.retryAtNs = now + int64_t(RetrySeconds * 1e9);
  if (OpenDevice(s, s.musicRate, s.musicChannels) != MMSYSERR_NOERROR) return;
  // Where the silent clock stands.
  double seconds = s.pausedSeconds;
  if (!s.paused) {
    seconds = ClampToMusic(s, s.offsetSeconds + SilentClockSeconds(s.silentSinceNs, now, -1.0));
    seconds = std::max(seconds, s.lastSeconds);
  }
  s.lost = false;
  s.silent = s.decoder == nullptr;
  Reposition(s, seconds);
  StartSilentClockIfReady(s);
  FillFreeBuffers(s);
  Say(Subsystem::Audio, "an output device is there again; the music goes on at %s", ClockText(seconds).c_str());
}

// The position heard, in seconds of music. Called with the lock held.
double HeardSeconds(AudioService& s) {
  const int64_t now = NowNs();
  if (s.lost && now >= s.retryAtNs) TryReopen(s, now);
  if (s.paused) return s.pausedSeconds;
  double seconds = s.offsetSeconds;
  if (s.silent) {
    seconds += SilentClockSeconds(s.silentSinceNs, now, -1.0);
  } else if (s.device && s.playing) {
    MMTIME played{};
    played.wType = TIME_SAMPLES;
    double frames = 0.0;
    const MMRESULT result = WaveOut().position(s.device, &played);
    if (result != MMSYSERR_NOERROR) {
      LoseDevice(s, "its position cannot be read: " + WaveOutError(result));
      return HeardSeconds(s);
    }
    // A driver may answer in bytes instead.
    if (played.wType == TIME_SAMPLES) frames = double(played.u.sample);
    else if (played.wType == TIME_BYTES) frames = double(played.u.cb / s.format.nBlockAlign);
    // Never more than was queued: what the device says it played is bounded
    // by what it was given.
    frames = std::min(frames, double(s.queuedFrames));
    // A device that stopped: audio waits in it, yet nothing comes back and
    // the position stands still.
    if (frames != s.lastDeviceFrames) {
      s.lastDeviceFrames = frames;
      s.lastMoveNs = now;
    }
    const bool waiting = frames < double(s.queuedFrames);
    if (s.outputStarted && waiting &&
        (now - s.lastMoveNs > StalledDeviceNs || now - s.lastReturnNs > StalledDeviceNs)) {
      LoseDevice(s, "it stopped playing");
      return HeardSeconds(s);
    }
    s.smooth.rate = double(s.format.nSamplesPerSec);
    const double before = s.smooth.started ? s.smooth.frames : s.smooth.from;
    const int64_t beforeNs = s.smooth.started ? s.smooth.ns : s.repositionNs;
    const double heard = AdvanceSmoothedClock(s.smooth, frames, now, double(s.musicEndFrames));
    seconds += heard / s.smooth.rate;
    if (s.silentTailSeconds > 0.0 && s.musicEndFrames >= 0 && heard >= double(s.musicEndFrames)) {
      // The music of a damaged file is over: its missing rest goes by
      // silently, from when the end was reached (the readings may be far
      // apart, and a seek into the rest reaches it at once).
      if (s.endHeardNs < 0) {
        const double toEnd = std::max(double(s.musicEndFrames) - before, 0.0) / s.smooth.rate;
        s.endHeardNs = std::min(now, beforeNs + int64_t(toEnd * 1e9));
      }
      seconds += double(now - s.endHeardNs) * 1e-9;
    }
  }
  if (s.lengthSeconds >= 0.0) seconds = std::min(seconds, s.lengthSeconds);
  seconds = std::max(seconds, s.lastSeconds);
  s.lastSeconds = seconds;
  return seconds;
}

}  // namespace

bool AudioOpenOutput(int frequency) {
  AudioService& s = TheService();
  Locked locked(s);
  if (s.device) return true;
  if (!s.bufferDone) s.bufferDone = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const MMRESULT result = s.bufferDone ? OpenDevice(s, frequency > 0 ? frequency : 44100, 2)
                                       : MMRESULT(MMSYSERR_NOMEM);
  if (result != MMSYSERR_NOERROR) {
    Say(Subsystem::Audio, "no audio output device (%s); the music runs silently on the system clock",
        WaveOutError(result).c_str());
    return false;
  }
  if (!s.feeder) {
    s.stopFeeder = 0;
    s.feeder = CreateThread(nullptr, 0, Feed, &s, 0, nullptr);
    if (!s.feeder) {
      CloseDevice(s);
      Say(Subsystem::Audio, "cannot start the audio thread; the music runs silently on the system clock");
      return false;
    }
  }
  return true;
}

uint32_t AudioOpenStream(const char* path) {
  AudioService& s = TheService();
  const char* shown = path ? path : "";
  std::string why;
  std::vector<unsigned char> file;
  AcmMp3Decoder* decoder = nullptr;
  switch (ReadDataFile(shown, file, LargestMusicFileBytes)) {
    case FileRead::Ok:
      if (file.empty()) {
        why = "the file is empty";
      } else {
        decoder = OpenAcmMp3Decoder(std::move(file), why);
      }
      break;
    case FileRead::CannotOpen:
      why = "the file cannot be opened";
      break;
    case FileRead::ReadError:
      why = "the file cannot be read";
      break;
    case FileRead::TooLarge:
      why = "the file is too large";
      break;
  }
  if (decoder) {
    // Frames the codec will not take are told now, with a device or without.
    std::vector<uint8_t> first(size_t(BufferFrames) * 4 * size_t(AcmMp3Channels(decoder)));
    if (DecodeAcmMp3(decoder, first.data(), first.size()) == 0) {
      why = AcmMp3Failure(decoder).empty() ? std::string("no audio frames") : AcmMp3Failure(decoder);
      why = "no mp3 audio in it (" + why + ")";
      CloseAcmMp3Decoder(decoder);
      decoder = nullptr;
    } else if (!RewindAcmMp3Decoder(decoder)) {
      why = AcmMp3Failure(decoder);
      CloseAcmMp3Decoder(decoder);
      decoder = nullptr;
    }
  }
  double silentTail = 0.0;
  if (decoder) {
    const double length = AcmMp3FramesSeconds(decoder);
    const double announced = AcmMp3AnnouncedSeconds(decoder);
    if (announced - length > DamagedMusicShortfallSeconds) {
      silentTail = announced - length;
      Say(Subsystem::Music, "%s: damaged after %.1f s of the %.1f s it announces; the rest plays silent", shown,
          length, announced);
    }
  } else {
    Say(Subsystem::Music, "%s: %s; the show runs silently on the clock", shown, why.c_str());
    why.clear();
  }

  Locked locked(s);
  FreeStream(s);
  s.handle = ++LastHandle;
  if (decoder) {
    s.musicRate = AcmMp3Rate(decoder);
    s.musicChannels = AcmMp3Channels(decoder);
    s.lengthSeconds = AcmMp3FramesSeconds(decoder) + silentTail;
    s.silentTailSeconds = silentTail;
    if (s.device && (long(s.format.nSamplesPerSec) != s.musicRate || s.format.nChannels != s.musicChannels)) {
      CloseDevice(s);
      const MMRESULT result = OpenDevice(s, s.musicRate, s.musicChannels);
      if (result != MMSYSERR_NOERROR) {
        why = "the output cannot play " + std::to_string(s.musicRate) + " Hz, " +
              std::to_string(s.musicChannels) + " channel(s): " + WaveOutError(result);
      }
    }
    if (s.device || s.lost) {
      // While the device is lost the decoder waits for the next one.
      s.decoder = decoder;
      s.silent = !s.device;
    } else {
      CloseAcmMp3Decoder(decoder);  // no device: only the length and the format were wanted
    }
  }
  if (!why.empty()) {
    Say(Subsystem::Audio, "cannot play %s (%s); the show runs silently on the clock", shown, why.c_str());
  }
  ResetClock(s);
  return s.handle;
}

void AudioStartOutput() {
  AudioService& s = TheService();
  Locked locked(s);
  if (s.outputStarted) return;
  s.outputStarted = true;
  if (s.device) WaveOut().restart(s.device);
  s.lastReturnNs = s.lastMoveNs = NowNs();
  StartSilentClockIfReady(s);
}

void AudioPlayFromStart(uint32_t stream) { AudioPlayFrom(stream, 0.0); }

void AudioPlayFrom(uint32_t stream, double seconds) {
  if (!Service || stream == 0 || stream != Service->handle) return;
  AudioService& s = *Service;
  Locked locked(s);
  s.playing = true;
  s.paused = false;
  Reposition(s, seconds);
  StartSilentClockIfReady(s);
  FillFreeBuffers(s);
}

void AudioSeek(uint32_t stream, double seconds) {
  if (!Service || stream == 0 || stream != Service->handle) return;
  AudioService& s = *Service;
  Locked locked(s);
  Reposition(s, seconds);
  StartSilentClockIfReady(s);
  FillFreeBuffers(s);
}

void AudioPause(uint32_t stream) {
  if (!Service || stream == 0 || stream != Service->handle || Service->paused) return;
  AudioService& s = *Service;
  Locked locked(s);
  // The position as heard right now is where the music will go on from.
  s.pausedSeconds = HeardSeconds(s);
  s.paused = true;
  s.playing = false;  // the feeder rests
  ReclaimBuffers(s);
}

void AudioResume(uint32_t stream) {
  if (!Service || stream == 0 || stream != Service->handle || !Service->paused) return;
  // What the device still held was never heard: go on from the held place.
  AudioPlayFrom(stream, Service->pausedSeconds);
}

void AudioPlayGrain(uint32_t stream, double seconds, double length) {
  if (!Service || stream == 0 || stream != Service->handle) return;
  AudioService& s = *Service;
  Locked locked(s);
  if (!s.paused || s.silent || !s.device || !s.decoder || !(length > 0.0)) return;
  ReclaimBuffers(s);  // the grain before, if it still plays
  seconds = ClampToMusic(s, seconds);
  s.grainSeconds = seconds;
  if (!MoveDecoder(s, seconds)) return;
  const int channels = s.format.nChannels;
  const int64_t total = std::max<int64_t>(1, int64_t(std::min(length, 10.0) * double(s.format.nSamplesPerSec)));
  const int64_t fade = int64_t(GrainFadeSeconds * double(s.format.nSamplesPerSec));
  int64_t done = 0;
  for (int i = 0; i < BufferCount && done < total; ++i) {
    WAVEHDR& h = s.headers[i];
    const size_t want = size_t(std::min<int64_t>(total - done, BufferFrames)) * s.format.nBlockAlign;
    const size_t got = DecodeAcmMp3(s.decoder, reinterpret_cast<uint8_t*>(h.lpData), want);
    const int64_t frames = int64_t(got / s.format.nBlockAlign);
    s.decodedFrames += frames;
    if (frames == 0) break;  // the music's end
    int16_t* samples = reinterpret_cast<int16_t*>(h.lpData);
    for (int64_t f = 0; f < frames; ++f) {
      const float gain = GrainGain(done + f, total, fade);
      if (gain == 1.0f) continue;
      for (int c = 0; c < channels; ++c) samples[f * channels + c] = int16_t(float(samples[f * channels + c]) * gain);
    }
    h.dwBufferLength = DWORD(got);
    h.dwFlags &= ~DWORD(WHDR_DONE);
    const MMRESULT result = WaveOut().write(s.device, &h);
    if (result != MMSYSERR_NOERROR) {
      LoseDevice(s, "a write to it failed: " + WaveOutError(result));
      return;
    }
    s.queued[i] = true;  // not counted in queuedFrames: a grain is no place of the clock
    done += frames;
  }
}

uint64_t AudioPositionBytes(uint32_t stream) {
  if (!Service || stream == 0 || stream != Service->handle) return 0;
  AudioService& s = *Service;
  Locked locked(s);
  return MusicSecondsToBytes(HeardSeconds(s), s.musicRate, s.musicChannels);
}

double AudioBytesToSeconds(uint32_t stream, uint64_t bytes) {
  long rate = SilentRate;
  int channels = SilentChannels;
  if (Service && stream != 0 && stream == Service->handle) {
    Locked locked(*Service);
    rate = Service->musicRate;
    channels = Service->musicChannels;
  }
  return MusicBytesToSeconds(bytes, rate, channels);
}

void ShutdownAudio() {
  if (!Service) return;
  AudioService& s = *Service;
  if (s.feeder) {
    InterlockedExchange(&s.stopFeeder, 1);
    SetEvent(s.bufferDone);
    WaitForSingleObject(s.feeder, INFINITE);
    CloseHandle(s.feeder);
    s.feeder = nullptr;
  }
  {
    Locked locked(s);
    FreeStream(s);
    CloseDevice(s);
  }
  if (s.bufferDone) CloseHandle(s.bufferDone);
  Service = nullptr;
  delete &s;
}

// --- Testing hooks (AudioTesting.h; the device's side is in WaveOutCalls.cpp) ---

void SetAudioDeviceRetrySeconds(double seconds) {
  RetrySeconds = seconds >= 0.0 ? std::max(seconds, 0.05) : RetrySecondsNormally;
}

// Not simulated here: the waveOut service opens at its own speed.
void SetAudioDeviceOpenDelaySeconds(double) {}

double AudioLastGrainSeconds() {
  if (!Service) return -1.0;
  Locked locked(*Service);
  return Service->grainSeconds;
}

bool AudioDeviceLost() {
  if (!Service) return false;
  Locked locked(*Service);
  return Service->lost;
}
