// The waveOut calls of the audio service (WaveOutCalls.h): the system's,
// a stand-in device for machines without one, and the faults a test injects.
#include "platform/windows/WaveOutCalls.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>

#include "platform/AudioTesting.h"

namespace {

std::atomic<AudioDeviceFault> Fault{AudioDeviceFault::None};
std::atomic<bool> OpenFails{false};
std::atomic<bool> UseStandIn{false};
// The position last read from the device, which a device that stopped keeps
// answering.
DWORD LastSamples = 0;

// --- The system's calls ---

MMRESULT SystemOpen(HWAVEOUT* device, const WAVEFORMATEX* format, HANDLE event) {
  return waveOutOpen(device, WAVE_MAPPER, format, DWORD_PTR(event), 0, CALLBACK_EVENT);
}
MMRESULT SystemClose(HWAVEOUT device) { return waveOutClose(device); }
MMRESULT SystemPrepare(HWAVEOUT device, WAVEHDR* header) { return waveOutPrepareHeader(device, header, sizeof *header); }
MMRESULT SystemUnprepare(HWAVEOUT device, WAVEHDR* header) {
  return waveOutUnprepareHeader(device, header, sizeof *header);
}
MMRESULT SystemWrite(HWAVEOUT device, WAVEHDR* header) { return waveOutWrite(device, header, sizeof *header); }
MMRESULT SystemReset(HWAVEOUT device) { return waveOutReset(device); }
MMRESULT SystemPause(HWAVEOUT device) { return waveOutPause(device); }
MMRESULT SystemRestart(HWAVEOUT device) { return waveOutRestart(device); }
MMRESULT SystemPosition(HWAVEOUT device, MMTIME* time) { return waveOutGetPosition(device, time, sizeof *time); }
bool SystemDone(const WAVEHDR& header) { return (header.dwFlags & WHDR_DONE) != 0; }

const WaveOutCalls System = {SystemOpen,  SystemClose, SystemPrepare, SystemUnprepare, SystemWrite,
                             SystemReset, SystemPause, SystemRestart, SystemPosition,  SystemDone};

// --- The stand-in: a card that plays its buffers in real time ---
//
// It has no thread: whenever it is called it first moves on by the time
// gone by, marking the buffers played since as done and signalling the
// event, as a driver would have in the meantime. The service's feeder looks
// at its buffers every few tens of milliseconds, which is all it needs.

struct StandInCard {
  bool running = false;  // opened paused, as waveOut devices are here
  double rate = 0.0;
  DWORD blockAlign = 1;
  HANDLE event = nullptr;
  double played = 0.0;   // frames since the last reset
  int64_t written = 0;   // frames handed over since the last reset
  int64_t lastNs = 0;
  std::deque<std::pair<WAVEHDR*, int64_t>> queue;  // each buffer, and `written` at its end
};
StandInCard Card;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

HWAVEOUT CardHandle() { return reinterpret_cast<HWAVEOUT>(&Card); }

void MoveCardOn() {
  const int64_t now = NowNs();
  // A card that has played all it was given waits for more, as a real one does.
  if (Card.running) Card.played = std::min(double(Card.written), Card.played + double(now - Card.lastNs) * 1e-9 * Card.rate);
  Card.lastNs = now;
  bool returned = false;
  while (!Card.queue.empty() && double(Card.queue.front().second) <= Card.played) {
    WAVEHDR* header = Card.queue.front().first;
    header->dwFlags = (header->dwFlags | WHDR_DONE) & ~DWORD(WHDR_INQUEUE);
    Card.queue.pop_front();
    returned = true;
  }
  if (returned && Card.event) SetEvent(Card.event);
}

MMRESULT CardOpen(HWAVEOUT* device, const WAVEFORMATEX* format, HANDLE event) {
  Card = StandInCard{};
  Card.rate = double(format->nSamplesPerSec);
  Card.blockAlign = std::max<DWORD>(1, format->nBlockAlign);
  Card.event = event;
  Card.lastNs = NowNs();
  *device = CardHandle();
  return MMSYSERR_NOERROR;
}
MMRESULT CardReset(HWAVEOUT) {
  // Every buffer comes back, and the count starts again.
  for (auto& queued : Card.queue) queued.first->dwFlags = (queued.first->dwFlags | WHDR_DONE) & ~DWORD(WHDR_INQUEUE);
  Card.queue.clear();
  Card.played = 0.0;
  Card.written = 0;
  Card.lastNs = NowNs();
  return MMSYSERR_NOERROR;
}
MMRESULT CardClose(HWAVEOUT device) {
  CardReset(device);
  Card.event = nullptr;
  return MMSYSERR_NOERROR;
}
MMRESULT CardPrepare(HWAVEOUT, WAVEHDR* header) {
  header->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}
MMRESULT CardUnprepare(HWAVEOUT, WAVEHDR* header) {
  header->dwFlags &= ~DWORD(WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}
MMRESULT CardWrite(HWAVEOUT, WAVEHDR* header) {
  MoveCardOn();
  header->dwFlags = (header->dwFlags & ~DWORD(WHDR_DONE)) | WHDR_INQUEUE;
  Card.written += int64_t(header->dwBufferLength / Card.blockAlign);
  Card.queue.emplace_back(header, Card.written);
  return MMSYSERR_NOERROR;
}
MMRESULT CardPause(HWAVEOUT) {
  MoveCardOn();
  Card.running = false;
  return MMSYSERR_NOERROR;
}
MMRESULT CardRestart(HWAVEOUT) {
  MoveCardOn();
  Card.running = true;
  return MMSYSERR_NOERROR;
}
MMRESULT CardPosition(HWAVEOUT, MMTIME* time) {
  MoveCardOn();
  time->wType = TIME_SAMPLES;
  time->u.sample = DWORD(Card.played);
  return MMSYSERR_NOERROR;
}
bool CardDone(const WAVEHDR& header) {
  MoveCardOn();
  return (header.dwFlags & WHDR_DONE) != 0;
}

const WaveOutCalls StandIn = {CardOpen,  CardClose, CardPrepare, CardUnprepare, CardWrite,
                              CardReset, CardPause, CardRestart, CardPosition,  CardDone};

// --- The faults, over either ---

const WaveOutCalls& Base() { return UseStandIn.load() ? StandIn : System; }

bool Gone() { return Fault.load() == AudioDeviceFault::Removed; }

MMRESULT FaultOpen(HWAVEOUT* device, const WAVEFORMATEX* format, HANDLE event) {
  if (OpenFails.load()) return MMSYSERR_NODRIVER;
  return Base().open(device, format, event);
}
MMRESULT FaultClose(HWAVEOUT device) { return Base().close(device); }
MMRESULT FaultPrepare(HWAVEOUT device, WAVEHDR* header) { return Base().prepare(device, header); }
MMRESULT FaultUnprepare(HWAVEOUT device, WAVEHDR* header) { return Base().unprepare(device, header); }
MMRESULT FaultWrite(HWAVEOUT device, WAVEHDR* header) {
  if (Gone() || Fault.load() == AudioDeviceFault::WriteFails) return MMSYSERR_NODRIVER;
  return Base().write(device, header);
}
MMRESULT FaultReset(HWAVEOUT device) { return Gone() ? MMRESULT(MMSYSERR_NODRIVER) : Base().reset(device); }
MMRESULT FaultPause(HWAVEOUT device) { return Gone() ? MMRESULT(MMSYSERR_NODRIVER) : Base().pause(device); }
MMRESULT FaultRestart(HWAVEOUT device) { return Gone() ? MMRESULT(MMSYSERR_NODRIVER) : Base().restart(device); }
MMRESULT FaultPosition(HWAVEOUT device, MMTIME* time) {
  const AudioDeviceFault fault = Fault.load();
  if (fault == AudioDeviceFault::Removed || fault == AudioDeviceFault::PositionFails) return MMSYSERR_NODRIVER;
  if (fault == AudioDeviceFault::StopsPulling) {
    time->wType = TIME_SAMPLES;
    time->u.sample = LastSamples;
    return MMSYSERR_NOERROR;
  }
  const MMRESULT result = Base().position(device, time);
  if (result == MMSYSERR_NOERROR && time->wType == TIME_SAMPLES) LastSamples = time->u.sample;
  return result;
}
bool FaultDone(const WAVEHDR& header) {
  return Fault.load() != AudioDeviceFault::StopsPulling && Base().done(header);
}

const WaveOutCalls WithFaults = {FaultOpen,  FaultClose, FaultPrepare, FaultUnprepare, FaultWrite,
                                 FaultReset, FaultPause, FaultRestart, FaultPosition,  FaultDone};

}  // namespace

const WaveOutCalls& WaveOut() { return WithFaults; }

void InjectAudioDeviceFault(AudioDeviceFault fault) { Fault.store(fault); }

void SetAudioDeviceOpenFails(bool fails) { OpenFails.store(fails); }

void SetAudioStandInDevice(bool use) { UseStandIn.store(use); }
