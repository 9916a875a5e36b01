// Onsets and a first tempo from aubio (Linux builds; libaubio-dev).
//
// aubio's onset detectors place each attack within a few milliseconds; its
// tempo tracker adapts bar by bar and only tells the grid search which
// octave the beat is in (Beats.h says why its own tempo cannot be the answer).
#include <aubio/aubio.h>

#include <algorithm>
#include <memory>

#include "beats/Beats.h"

namespace {

// The complex-domain detector sees changes of both level and pitch, so
// plucks and chords count as well as drums; on the bundled music its onsets
// keep within a millisecond of the score's sixteenths (hfc and specdiff run
// 3 ms late). A 256-sample hop is 5.8 ms at 44.1 kHz: well under the 20 ms a
// beat may be off and still look on time.
const char* const OnsetMethod = "complex";
// The accents go by energy, where the kick and the bass outweigh hats and
// arpeggios; weighted by a high-frequency detector, the off-beat hats won
// and the grid came out half a beat late.
const char* const AccentMethod = "energy";
constexpr uint_t OnsetWindow = 1024;
constexpr uint_t OnsetHop = 256;
// The tracker needs no finer steps: only its tempo is used.
constexpr uint_t TempoWindow = 1024;
constexpr uint_t TempoHop = 512;

struct FvecDeleter {
  void operator()(fvec_t* v) const { del_fvec(v); }
};
struct OnsetDeleter {
  void operator()(aubio_onset_t* o) const { del_aubio_onset(o); }
};
struct TempoDeleter {
  void operator()(aubio_tempo_t* t) const { del_aubio_tempo(t); }
};
using Fvec = std::unique_ptr<fvec_t, FvecDeleter>;

// Feeds samples to a detector hop by hop, the last hop padded with silence.
// False when cancelled on the way.
template <typename Step>
bool ForEachHop(const float* mono, std::size_t count, uint_t hop, fvec_t* input, const std::atomic<bool>* cancel,
                Step step) {
  for (std::size_t at = 0; at < count; at += hop) {
    if (cancel && cancel->load(std::memory_order_relaxed)) return false;
    const std::size_t n = std::min<std::size_t>(hop, count - at);
    for (uint_t i = 0; i < hop; ++i) input->data[i] = i < n ? static_cast<smpl_t>(mono[at + i]) : 0;
    step();
  }
  return true;
}

constexpr const char* Cancelled = "the analysis was cancelled";

}  // namespace

bool BeatDetectionInThisBuild() { return true; }

bool DetectOnsets(const float* mono, std::size_t count, long rate, MusicOnsets& found, std::string& error,
                  const std::atomic<bool>* cancel) {
  found = {};
  std::unique_ptr<aubio_onset_t, OnsetDeleter> onset(
      new_aubio_onset(OnsetMethod, OnsetWindow, OnsetHop, static_cast<uint_t>(rate)));
  std::unique_ptr<aubio_onset_t, OnsetDeleter> accent(
      new_aubio_onset(AccentMethod, OnsetWindow, OnsetHop, static_cast<uint_t>(rate)));
  std::unique_ptr<aubio_tempo_t, TempoDeleter> tempo(
      new_aubio_tempo("default", TempoWindow, TempoHop, static_cast<uint_t>(rate)));
  Fvec onsetIn(new_fvec(OnsetHop)), onsetOut(new_fvec(1)), tempoIn(new_fvec(TempoHop)), tempoOut(new_fvec(2));
  if (!onset || !accent || !tempo || !onsetIn || !onsetOut || !tempoIn || !tempoOut) {
    error = "aubio cannot analyse music at " + std::to_string(rate) + " Hz";
    return false;
  }

  const bool onsetsDone = ForEachHop(mono, count, OnsetHop, onsetIn.get(), cancel, [&] {
    for (auto [detector, list] : {std::pair{onset.get(), &found.onsets}, std::pair{accent.get(), &found.accents}}) {
      aubio_onset_do(detector, onsetIn.get(), onsetOut.get());
      if (onsetOut->data[0] != 0) {
        const double strength = aubio_onset_get_descriptor(detector);
        list->push_back({aubio_onset_get_last_s(detector), strength > 0.0 ? strength : 0.0});
      }
    }
  });
  if (!onsetsDone) {
    error = Cancelled;
    return false;
  }

  // The tracker's tempo at each beat it places; their median outvotes the
  // stretches where it lost the beat.
  std::vector<double> bpms;
  const bool tempoDone = ForEachHop(mono, count, TempoHop, tempoIn.get(), cancel, [&] {
    aubio_tempo_do(tempo.get(), tempoIn.get(), tempoOut.get());
    if (tempoOut->data[0] != 0) {
      const double bpm = aubio_tempo_get_bpm(tempo.get());
      if (bpm > 0.0) bpms.push_back(bpm);
    }
  });
  if (!tempoDone) {
    error = Cancelled;
    return false;
  }
  if (!bpms.empty()) {
    std::nth_element(bpms.begin(), bpms.begin() + bpms.size() / 2, bpms.end());
    found.trackerBpm = bpms[bpms.size() / 2];
  }
  return true;
}
