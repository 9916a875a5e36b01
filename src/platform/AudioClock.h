// The arithmetic of the music clock that every audio backend shares: the
// smoothing of the position a device reports, and the conversion between
// seconds of music and bytes of decoded audio. Portable: no device, no clock
// of its own (callers pass the monotonic time in nanoseconds).
#pragma once

#include <cstdint>

// Decoded audio is signed 16-bit at the file's own rate and channel count.
constexpr int DecodedSampleBytes = 2;
// What a stream without a file counts its bytes in.
constexpr long SilentRate = 44100;
constexpr int SilentChannels = 2;

// About six device buffers: long enough to average out the jitter of the
// device's reports, short enough that a drifting device is followed within a
// few frames' worth.
constexpr double ClockSmoothingSeconds = 0.15;
// A gap larger than this is no jitter and is taken at once.
constexpr double ClockSnapSeconds = 0.25;

// A device reports where it plays in steps (one buffer at a time, or a mixer
// period), with a jitter of several milliseconds. The smoothed clock runs at
// the device's nominal rate from its last value and closes the gap to the
// reported position over ClockSmoothingSeconds, so that jitter is filtered
// out while real drift of the device (a driver that falls behind under load)
// is still followed.
struct SmoothedClock {
  double rate = 0.0;  // device frames a second
  double from = 0.0;  // where playing was put: the clock holds here until the device reports past it
  bool started = false;
  double frames = 0.0;  // last value, device frames
  int64_t ns = 0;       // when it was taken
};

// The smoothed position in device frames at nowNs, given the position the
// device implies then. Stays at `from` until the device reports past it; never
// goes back; never passes endFrames when that is not negative (the music's
// end, once known).
double AdvanceSmoothedClock(SmoothedClock& clock, double deviceFrames, int64_t nowNs, double endFrames);

// Where the clock stands at nowNs when its device can no longer be asked (it
// went away): its last value carried on at the nominal rate, never past
// endFrames when that is not negative. Until the clock has started, `from`.
// The position a show reads therefore neither jumps nor steps back when the
// backend moves over to the monotonic clock.
double CarriedOnFrames(const SmoothedClock& clock, int64_t nowNs, double endFrames);

// A scrubbing grain fades in over its first fadeFrames and out over its last,
// so that its ends do not click: the gain of its frame `at` of `total`.
float GrainGain(int64_t at, int64_t total, int64_t fadeFrames);
constexpr double GrainFadeSeconds = 0.004;

// The silent clock: seconds since it started (-1: not yet), never past
// lengthSeconds when that is known (not negative).
double SilentClockSeconds(int64_t sinceNs, int64_t nowNs, double lengthSeconds);

// Seconds of music as bytes of decoded audio at rate and channels, whole
// frames only, and back.
uint64_t MusicSecondsToBytes(double seconds, long rate, int channels);
double MusicBytesToSeconds(uint64_t bytes, long rate, int channels);
