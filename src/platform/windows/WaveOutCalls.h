// The waveOut calls the audio service makes, gathered in one place so that
// a test can make them fail the way they do when the device goes away, and
// can play to a stand-in device where the machine has none (Wine on a build
// machine). The real calls otherwise, unchanged.
//
// Links: winmm.
#pragma once

// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

struct WaveOutCalls {
  // waveOutOpen on WAVE_MAPPER, signalling `event` as each buffer comes back.
  MMRESULT (*open)(HWAVEOUT* device, const WAVEFORMATEX* format, HANDLE event);
  MMRESULT (*close)(HWAVEOUT device);
  MMRESULT (*prepare)(HWAVEOUT device, WAVEHDR* header);
  MMRESULT (*unprepare)(HWAVEOUT device, WAVEHDR* header);
  MMRESULT (*write)(HWAVEOUT device, WAVEHDR* header);
  MMRESULT (*reset)(HWAVEOUT device);
  MMRESULT (*pause)(HWAVEOUT device);
  MMRESULT (*restart)(HWAVEOUT device);
  MMRESULT (*position)(HWAVEOUT device, MMTIME* time);
  // Whether the device is done with the buffer (WHDR_DONE).
  bool (*done)(const WAVEHDR& header);
};

// The calls in force: the system's, or the stand-in's when a test asked for
// it, either with the injected fault (AudioTesting.h) applied. The caller
// serialises them (the audio service's lock).
const WaveOutCalls& WaveOut();
