// TrackValue on a long track at random rows and at rows that advance a third
// of a row per call as in playback at 60 frames per second, beside the key
// search alone and a plain random read of a key (the floor: what one
// cache-missing load costs).
//
//   build/bench/bench_tracks --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "sync/Tracks.h"

namespace {

constexpr int RowCount = 4096;  // random rows cycled through; a power of two for the mask

struct LongTrack {
  std::vector<TrackKey> keys;
  Track track{};
  std::vector<double> rows;
  std::vector<int32_t> intRows;

  explicit LongTrack(int keyCount) {
    std::mt19937 rng(42);
    int32_t row = 0;
    for (int k = 0; k < keyCount; ++k) {
      keys.push_back({row, float(rng() % 1000) / 10.0f, int32_t(k % 4)});
      row += 1 + int32_t(rng() % 20);
    }
    track = Track{nullptr, keys.data(), int32_t(keys.size())};
    std::uniform_real_distribution<double> pick(-5.0, double(row) + 5.0);
    for (int i = 0; i < RowCount; ++i) {
      rows.push_back(pick(rng));
      intRows.push_back(int32_t(std::floor(rows.back())));
    }
  }
};

void BM_TrackValue(benchmark::State& state) {
  LongTrack t(int(state.range(0)));
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TrackValue(&t.track, t.rows[i++ & (RowCount - 1)]));
  }
}
BENCHMARK(BM_TrackValue)->Arg(1000)->Arg(14);

// The rows are worked out beforehand: stepping a double in the loop and
// wrapping it at the end made a dependency chain that cost more than the
// call being measured.
void BM_TrackValuePlayback(benchmark::State& state) {
  LongTrack t(int(state.range(0)));
  const double end = double(t.keys.back().row) + 5.0;
  std::vector<double> rows;
  for (double row = -5.0; row <= end; row += 1.0 / 3.0) rows.push_back(row);
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TrackValue(&t.track, rows[i]));
    if (++i == rows.size()) i = 0;
  }
}
BENCHMARK(BM_TrackValuePlayback)->Arg(1000)->Arg(14);

void BM_FindKey(benchmark::State& state) {
  LongTrack t(int(state.range(0)));
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(FindKey(&t.track, t.intRows[i++ & (RowCount - 1)]));
  }
}
BENCHMARK(BM_FindKey)->Arg(1000);

void BM_RandomKeyRead(benchmark::State& state) {
  LongTrack t(int(state.range(0)));
  std::vector<int32_t> index;
  std::mt19937 rng(9);
  for (int i = 0; i < RowCount; ++i) index.push_back(int32_t(rng() % t.keys.size()));
  unsigned i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(t.keys[size_t(index[i++ & (RowCount - 1)])].value);
  }
}
BENCHMARK(BM_RandomKeyRead)->Arg(1000);

}  // namespace

BENCHMARK_MAIN();
