// Smoothness of the music clock: CurrentRow sampled every millisecond for ten
// seconds of playback, under SDL's dummy audio driver unless SDL_AUDIODRIVER
// names another. Reported per run:
//   max_dev_ms    largest distance from the straight line fitted through the
//                 samples (row against wall time), in milliseconds of music
//   max_back_ms   largest backward step between consecutive samples (must be 0)
//   rows_per_s    slope of the fitted line
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

    // Least-squares line through (time, row).
    const double n = double(times.size());
    double st = 0, sr = 0, stt = 0, str = 0;
    for (size_t i = 0; i < times.size(); ++i) {
      st += times[i];
      sr += rows[i];
      stt += times[i] * times[i];
      str += times[i] * rows[i];
    }
    const double slope = (n * str - st * sr) / (n * stt - st * st);
    const double intercept = (sr - slope * st) / n;
    double largestDeviation = 0.0;
    for (size_t i = 0; i < times.size(); ++i)
      largestDeviation = std::max(largestDeviation, std::fabs(rows[i] - (intercept + slope * times[i])));

    state.counters["max_dev_ms"] = largestDeviation / RowsPerSecond * 1000.0;
    state.counters["max_back_ms"] = largestBack / RowsPerSecond * 1000.0;
    state.counters["rows_per_s"] = slope;
    state.counters["samples"] = n;
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
