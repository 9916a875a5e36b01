// The beat grid fitted to a piece's onsets, and the tempo line it gives the
// track text. Plain arithmetic: the detector behind the onsets is the
// backend's (BeatsAubio.cpp).
#include <algorithm>
#include <cmath>
#include <complex>

#include "beats/Beats.h"

namespace {

constexpr double TwoPi = 6.283185307179586;

// The tempos a show is cut to. Outside them a beat is really a bar or a
// subdivision, which the grid would place as well but nobody asks for.
constexpr double SlowestBpm = 60.0;
constexpr double FastestBpm = 200.0;
// A beat tracker's tempo is off by a percent or two, not more; 8 % leaves
// room without reaching the next musical ratio (9/8 is 12.5 % away).
constexpr double TrackerWindow = 0.08;
// The first search's step. A piece of T seconds drifts by half a sixteenth,
// where the agreement falls away, once the tempo is off by 60 / (8 T) BPM:
// 0.04 BPM for three minutes. A step well under that cannot step over the
// peak.
constexpr double CoarseStepBpm = 0.01;
constexpr double FineStepBpm = 0.0005;
// Below this many onsets any period lines a few of them up.
constexpr std::size_t FewestOnsets = 4;
// The beat and its halves and quarters. Music puts onsets on off-beats and
// sixteenths as often as on the beat, and those cancel out of the beat's own
// phase sum; at the subdivisions they all agree. (Triplet feels are left to
// the beat's own term.)
constexpr int Subdivisions[] = {1, 2, 4};
// Within a search of the whole range, a slower tempo this close to the best
// is preferred: onsets on every beat keep to twice the tempo just as well
// (every other grid line empty), so the best alone cannot tell a beat from
// its half.
constexpr double OctavePreference = 0.9;
// A beat this little before the start is the start's: the music's first
// sound, placed a hair early by rounding, would otherwise put the first beat
// a whole beat in. Less than a detector's hop, and inaudible.
constexpr double EarlyBeatSeconds = 0.005;

// The weighted mean of the unit vectors at each onset's phase in the period:
// its length is 1 when every onset falls on the same phase, about 1/sqrt(n)
// for onsets at random; its angle is where in the period they gather.
std::complex<double> MeanPhase(const std::vector<Onset>& onsets, double periodSeconds) {
  double re = 0.0, im = 0.0, total = 0.0;
  for (const Onset& onset : onsets) {
    const double angle = TwoPi * onset.seconds / periodSeconds;
    re += onset.strength * std::cos(angle);
    im += onset.strength * std::sin(angle);
    total += onset.strength;
  }
  return total > 0.0 ? std::complex<double>(re, im) / total : 0.0;
}

double PeriodOf(double bpm) { return 60.0 / bpm; }

struct Peak {
  double bpm = 0.0;
  double score = -1.0;
};

// The score of every tempo from low to high in steps. The phase of an onset
// at t is 2 pi t bpm / 60 beats, linear in the tempo, so one step is one
// rotation of each onset's unit vector rather than a sine and a cosine: the
// whole range in a few milliseconds.
std::vector<Peak> SearchTempo(const std::vector<Onset>& onsets, double low, double high, double step) {
  const int steps = static_cast<int>(std::floor((high - low) / step + 1e-9));
  std::vector<Peak> scores(static_cast<std::size_t>(steps) + 1);
  for (int i = 0; i <= steps; ++i) scores[i].bpm = low + step * i, scores[i].score = 0.0;
  double total = 0.0;
  for (const Onset& onset : onsets) total += onset.strength;
  if (total <= 0.0) return scores;
  for (int k : Subdivisions) {
    std::vector<std::complex<double>> at, turn;
    for (const Onset& onset : onsets) {
      const double cycles = k * onset.seconds / 60.0;
      at.push_back(onset.strength * std::polar(1.0, TwoPi * cycles * low));
      turn.push_back(std::polar(1.0, TwoPi * cycles * step));
    }
    for (int i = 0; i <= steps; ++i) {
      std::complex<double> sum = 0.0;
      for (std::size_t n = 0; n < at.size(); ++n) {
        sum += at[n];
        at[n] *= turn[n];
      }
      scores[i].score += std::abs(sum) / total;
    }
  }
  return scores;
}

Peak Best(const std::vector<Peak>& scores, double low = 0.0, double high = INFINITY) {
  Peak best;
  for (const Peak& p : scores)
    if (p.bpm >= low && p.bpm <= high && p.score > best.score) best = p;
  return best;
}

// The tempo the tracker names, taken by octaves into the range a show uses.
double FoldIntoRange(double bpm) {
  while (bpm < SlowestBpm) bpm *= 2.0;
  while (bpm > FastestBpm) bpm /= 2.0;
  return bpm;
}

bool Near(double bpm, double other) { return std::fabs(bpm / other - 1.0) <= TrackerWindow; }

double Tempo(const MusicOnsets& found) {
  const std::vector<Peak> scores = SearchTempo(found.onsets, SlowestBpm, FastestBpm, CoarseStepBpm);
  // The slowest peak that comes close to the best.
  const Peak best = Best(scores);
  Peak coarse = best;
  for (std::size_t i = 1; i + 1 < scores.size(); ++i) {
    const bool localMaximum = scores[i].score >= scores[i - 1].score && scores[i].score >= scores[i + 1].score;
    if (localMaximum && scores[i].score >= OctavePreference * best.score) {
      coarse = scores[i];
      break;
    }
  }
  // Where music fills the beat with off-beats and sixteenths, twice the
  // tempo keeps to the onsets as well as the beat does; the tracker hears
  // the beat. So its octave is taken when it is one of the peak's octaves;
  // a tracker that lost the beat altogether names none of them.
  if (found.trackerBpm > 0.0 && std::isfinite(found.trackerBpm)) {
    const double tracker = FoldIntoRange(found.trackerBpm);
    for (double ratio : {0.5, 1.0, 2.0}) {
      if (Near(tracker, coarse.bpm * ratio)) {
        coarse = Best(scores, tracker * (1.0 - TrackerWindow), tracker * (1.0 + TrackerWindow));
        break;
      }
    }
  }
  return Best(SearchTempo(found.onsets, coarse.bpm - CoarseStepBpm, coarse.bpm + CoarseStepBpm, FineStepBpm)).bpm;
}

// The density of the onsets at phase seconds into the beat, from the
// beat's and the half beat's terms of its Fourier series (less a constant).
double Density(const std::vector<Onset>& onsets, double period, double phase) {
  double density = 0.0;
  for (int k : {1, 2}) {
    const std::complex<double> mean = MeanPhase(onsets, period / k);
    density += std::real(mean * std::polar(1.0, -TwoPi * k * phase / period));
  }
  return density;
}

}  // namespace

bool FitBeatGrid(const MusicOnsets& found, BeatGrid& grid, std::string& error) {
  if (found.onsets.size() < FewestOnsets) {
    error = "found " + std::to_string(found.onsets.size()) + " onset(s), too few to find a beat in";
    return false;
  }
  const double bpm = Tempo(found);
  const double period = PeriodOf(bpm);

  // Where the beats fall to the millisecond: the subdivision the onsets keep
  // to best (counting that a finer one places its phase more finely)...
  int finest = 1;
  std::complex<double> finestMean = MeanPhase(found.onsets, period);
  for (int k : Subdivisions) {
    const std::complex<double> mean = MeanPhase(found.onsets, period / k);
    if (k * std::abs(mean) > finest * std::abs(finestMean)) finest = k, finestMean = mean;
  }
  const double step = period / finest;
  const double phase = std::arg(finestMean) / TwoPi * step;
  // ...and which of its lines is the beat: the one the accents gather on.
  const std::vector<Onset>& accents = found.accents.size() >= FewestOnsets ? found.accents : found.onsets;
  int beatLine = 0;
  for (int j = 1; j < finest; ++j) {
    if (Density(accents, period, phase + j * step) > Density(accents, period, phase + beatLine * step)) beatLine = j;
  }
  double first = std::fmod(phase + beatLine * step, period);
  if (first < 0.0) first += period;
  if (first > period - EarlyBeatSeconds) first = 0.0;
  grid = {bpm, first, std::abs(finestMean)};
  return true;
}

namespace {

// Whether a line's first word is "tempo".
bool IsTempoLine(const std::string& line) {
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line.compare(start, 5, "tempo") != 0) return false;
  const std::size_t after = start + 5;
  return after == line.size() || line[after] == ' ' || line[after] == '\t' || line[after] == '\r' ||
         line[after] == '\n';
}

bool IsCommentLine(const std::string& line) {
  const std::size_t start = line.find_first_not_of(" \t");
  return start != std::string::npos && line[start] == '#';
}

bool IsBlankLine(const std::string& line) { return line.find_first_not_of(" \t\r\n") == std::string::npos; }

}  // namespace

bool FindBeats(const float* mono, std::size_t count, long rate, BeatGrid& grid, std::string& error,
               const std::atomic<bool>* cancel) {
  if (rate <= 0) {
    error = "no sample rate";
    return false;
  }
  // Anything quieter than -90 dB is silence to the detector too; saying so
  // beats reporting that no onsets were found.
  const bool silent = std::none_of(mono, mono + count, [](float s) { return std::fabs(s) > 3e-5f; });
  if (silent) {
    error = "the music is silent";
    return false;
  }
  MusicOnsets found;
  return DetectOnsets(mono, count, rate, found, error, cancel) && FitBeatGrid(found, grid, error);
}

std::vector<double> BeatTimes(const BeatGrid& grid, double endSeconds) {
  std::vector<double> times;
  if (!(grid.bpm > 0.0)) return times;
  const double period = PeriodOf(grid.bpm);
  // Each beat from its index, so that rounding does not pile up over the piece.
  for (long i = 0;; ++i) {
    const double t = grid.firstBeat + period * static_cast<double>(i);
    if (t >= endSeconds) break;
    times.push_back(t);
  }
  return times;
}

std::string SetTempoLine(const std::string& text, const std::string& tempoLine) {
  std::vector<std::string> lines;  // each with its own line end, the last perhaps without
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = text.find('\n', at);
    const std::size_t next = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, next - at));
    at = next;
  }
  const std::size_t firstEnd = text.find('\n');
  const std::string lineEnd = firstEnd != std::string::npos && firstEnd > 0 && text[firstEnd - 1] == '\r' ? "\r\n" : "\n";

  std::string out;
  bool placed = false;
  for (const std::string& line : lines) {
    if (!IsTempoLine(line)) {
      out += line;
    } else if (!placed) {
      // Where the old line was, ending as it did (the last line may have no end).
      const bool ended = !line.empty() && line.back() == '\n';
      out += tempoLine + (ended ? lineEnd : "");
      placed = true;
    }
  }
  if (placed) return out;

  // After the last comment of the leading comments and blank lines.
  std::size_t insertAt = 0;
  for (std::size_t i = 0; i < lines.size() && (IsCommentLine(lines[i]) || IsBlankLine(lines[i])); ++i) {
    if (IsCommentLine(lines[i])) insertAt = i + 1;
  }
  out.clear();
  for (std::size_t i = 0; i < insertAt; ++i) out += lines[i];
  if (!out.empty() && out.back() != '\n') out += lineEnd;  // a comment that ended the text unterminated
  out += tempoLine + lineEnd;
  for (std::size_t i = insertAt; i < lines.size(); ++i) out += lines[i];
  return out;
}
