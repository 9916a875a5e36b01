// The music clock's shared arithmetic (see AudioClock.h).
#include "platform/AudioClock.h"

#include <algorithm>
#include <cmath>

double AdvanceSmoothedClock(SmoothedClock& clock, double deviceFrames, int64_t nowNs, double endFrames) {
  if (!clock.started) {
    // Until the first audio from `from` is heard there is nothing to follow.
    if (deviceFrames <= clock.from) return clock.from;
    clock.started = true;
    clock.frames = endFrames >= 0.0 ? std::min(deviceFrames, endFrames) : deviceFrames;
    clock.ns = nowNs;
    return clock.frames;
  }
  const double dt = std::max(double(nowNs - clock.ns) * 1e-9, 0.0);
  clock.ns = std::max(nowNs, clock.ns);
  double frames = clock.frames + dt * clock.rate;
  const double gap = deviceFrames - frames;
  if (std::abs(gap) > ClockSnapSeconds * clock.rate) {
    frames = deviceFrames;
  } else {
    frames += gap * std::min(1.0, dt / ClockSmoothingSeconds);
  }
  if (endFrames >= 0.0) frames = std::min(frames, endFrames);
  clock.frames = std::max(frames, clock.frames);
  return clock.frames;
}

double CarriedOnFrames(const SmoothedClock& clock, int64_t nowNs, double endFrames) {
  if (!clock.started) return clock.from;
  const double dt = std::max(double(nowNs - clock.ns) * 1e-9, 0.0);
  double frames = clock.frames + dt * clock.rate;
  if (endFrames >= 0.0) frames = std::min(frames, std::max(endFrames, clock.frames));
  return frames;
}

float GrainGain(int64_t at, int64_t total, int64_t fadeFrames) {
  if (at < 0 || at >= total) return 0.0f;
  const int64_t edge = std::min(at, total - 1 - at);
  if (fadeFrames <= 0 || edge >= fadeFrames) return 1.0f;
  return float(edge) / float(fadeFrames);
}

double SilentClockSeconds(int64_t sinceNs, int64_t nowNs, double lengthSeconds) {
  if (sinceNs < 0) return 0.0;
  const double seconds = std::max(double(nowNs - sinceNs) * 1e-9, 0.0);
  return lengthSeconds >= 0.0 ? std::min(seconds, lengthSeconds) : seconds;
}

uint64_t MusicSecondsToBytes(double seconds, long rate, int channels) {
  if (!(seconds > 0.0) || rate <= 0 || channels <= 0) return 0;
  const uint64_t frames = uint64_t(seconds * double(rate));
  return frames * uint64_t(channels * DecodedSampleBytes);
}

double MusicBytesToSeconds(uint64_t bytes, long rate, int channels) {
  if (rate <= 0 || channels <= 0) return 0.0;
  return double(bytes) / (double(rate) * double(channels * DecodedSampleBytes));
}
