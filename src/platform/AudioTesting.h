// TESTING ONLY: hooks into the audio service for tests. Besides them only
// the audio backends include it.
#pragma once

// The ways an output device is seen to go away. Each backend makes the
// device calls of that kind fail from now on as they do for a vanished
// device (None: they work again).
enum class AudioDeviceFault {
  None,
  WriteFails,     // handing audio to the device fails (Linux: SDL reports the device removed)
  PositionFails,  // asking where the device plays fails (Linux: SDL reports the device removed)
  Removed,        // the system reports the device removed: every call fails
  StopsPulling,   // the device takes no more audio and its position freezes
};
void InjectAudioDeviceFault(AudioDeviceFault fault);

// While set, opening an output device fails as on a system without one.
void SetAudioDeviceOpenFails(bool fails);

// How long a lost device waits before the default output is tried again
// (seconds; a negative value restores the normal interval).
void SetAudioDeviceRetrySeconds(double seconds);

// Makes each look for an output after a loss take this long before the
// device is opened (or fails to open), as a slow or hanging driver would
// (seconds; 0 or less: no delay). Shutting the service down cuts the wait
// short. The first opening (AudioOpenOutput) is not slowed. The Windows
// service ignores it.
void SetAudioDeviceOpenDelaySeconds(double seconds);

// Where there is no sound card (Wine on a build machine), the Windows service
// can play to a stand-in that takes audio at the device's rate as a card
// would, so that the device's side of the service is exercised all the same.
// Set before AudioOpenOutput. Linux has SDL's dummy driver for that and
// ignores it.
void SetAudioStandInDevice(bool use);

// Where the last grain began, in seconds of music, once clamped to it (-1:
// none since the stream was opened, or none could play).
double AudioLastGrainSeconds();

// Whether the service has given its device up and runs on the monotonic
// clock until a device opens again.
bool AudioDeviceLost();
