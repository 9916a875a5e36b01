// Smoothness of the music clock: CurrentRow sampled every millisecond for ten
// seconds of playback, under SDL's dummy audio driver unless SDL_AUDIODRIVER
// names another. Reported per run:
//   max_dev_ms    largest distance from the straight line fitted through the
//                 samples (row against wall time), in milliseconds of music
//   max_back_ms   largest backward step between consecutive samples (must be 0)
//   rows_per_s    slope of the fitted line
//   max_dev_1s_ms the same deviation with a line fitted through each second
//                 of samples on its own: smoothness without the slow wander
//                 of the device's own pacing (SDL's dummy driver sleeps a
//                 buffer's duration between requests, so on a busy machine
//                 its consumption itself drifts from a straight line)
//   max_jump_ms   largest step of the row ahead of the wall time between two
//                 consecutive samples, in milliseconds of music
//   max_hold_ms   longest time the row stood still while sampled
// The silent stream (no music file: the monotonic clock alone) is the floor.
//
//   build/bench/bench_clock
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/Audio.h"
#include "sync/MusicClock.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double SampleSeconds = 10.0;

std::string MusicPath() {
  static std::string path;
  if (!path.empty()) return path;
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "bench-clock";
  std::filesystem::create_directories(dir);
  path = (dir / "tone.mp3").string();
  const std::string wav = (dir / "tone.wav").string();
  const std::string command = "sox -n -r 44100 -c 2 -b 16 '" + wav + "' synth 12 sine 440 vol 0.5 && lame --quiet '" +
                              wav + "' '" + path + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "bench_clock: cannot make %s\n", path.c_str());
  return path;
}

// The largest distance of samples [from, to) from the least-squares line
// through them, in rows; the line's slope goes to `slope`.
double LargestDeviation(const std::vector<double>& times, const std::vector<double>& rows, size_t from, size_t to,
                        double& slope) {
  const double n = double(to - from);
  double st = 0, sr = 0, stt = 0, str = 0;
  for (size_t i = from; i < to; ++i) {
    st += times[i];
    sr += rows[i];
    stt += times[i] * times[i];
    str += times[i] * rows[i];
  }
  slope = (n * str - st * sr) / (n * stt - st * st);
  const double intercept = (sr - slope * st) / n;
  double largest = 0.0;
  for (size_t i = from; i < to; ++i) largest = std::max(largest, std::fabs(rows[i] - (intercept + slope * times[i])));
  return largest;
}

void MeasureClock(benchmark::State& state, const std::string& file) {
  for (auto _ : state) {
    AudioOpenOutput(44100);
    MusicStream = AudioOpenStream(file.c_str());
    StartMusicPlayback();

    // Sampling starts once the music is heard: the first buffer's latency is
    // not part of the line.
    while (CurrentRow() == 0.0) std::this_thread::sleep_for(std::chrono::microseconds(100));
    std::vector<double> times, rows;
    const Clock::time_point start = Clock::now();
    Clock::time_point next = start;
    double largestBack = 0.0, previous = CurrentRow();
    for (;;) {
      const Clock::time_point now = Clock::now();
      const double t = std::chrono::duration<double>(now - start).count();
      if (t >= SampleSeconds) break;
      const double row = CurrentRow();
      largestBack = std::max(largestBack, previous - row);
      previous = row;
      times.push_back(t);
      rows.push_back(row);
      next += std::chrono::milliseconds(1);
      std::this_thread::sleep_until(next);
    }
    ShutdownAudio();
    MusicStream = 0;

    double largestJump = 0.0, longestHold = 0.0, holdStart = -1.0;
    for (size_t i = 1; i < times.size(); ++i) {
      const double dt = times[i] - times[i - 1];
      largestJump = std::max(largestJump, (rows[i] - rows[i - 1]) / RowsPerSecond - dt);
      if (rows[i] == rows[i - 1]) {
        if (holdStart < 0) holdStart = times[i - 1];
        longestHold = std::max(longestHold, times[i] - holdStart);
      } else {
        holdStart = -1.0;
      }
    }

    double slope = 0.0;
    const double largestDeviation = LargestDeviation(times, rows, 0, times.size(), slope);
    double largestWindowDeviation = 0.0, windowSlope;
    for (size_t from = 0; from < times.size();) {
      size_t to = from;
      while (to < times.size() && times[to] < times[from] + 1.0) ++to;
      if (to - from > 100)
        largestWindowDeviation =
            std::max(largestWindowDeviation, LargestDeviation(times, rows, from, to, windowSlope));
      from = to;
    }

    state.counters["max_dev_ms"] = largestDeviation / RowsPerSecond * 1000.0;
    state.counters["max_dev_1s_ms"] = largestWindowDeviation / RowsPerSecond * 1000.0;
    state.counters["max_back_ms"] = largestBack / RowsPerSecond * 1000.0;
    state.counters["max_jump_ms"] = largestJump * 1000.0;
    state.counters["max_hold_ms"] = longestHold * 1000.0;
    state.counters["rows_per_s"] = slope;
    state.counters["samples"] = double(times.size());
  }
}

void BM_ClockDevice(benchmark::State& state) { MeasureClock(state, MusicPath()); }
void BM_ClockSilentFloor(benchmark::State& state) { MeasureClock(state, "/nonexistent/bench-clock.mp3"); }

BENCHMARK(BM_ClockDevice)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_ClockSilentFloor)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
