// Whole demo frames against the floor of a frame that only clears and swaps,
// measured side by side in one run on the demo's own window (1920x1080, 4
// samples when the GL offers them): each image plane at full size with the
// backdrop and the scroll line over it, and the backdrop and line alone.
// Every frame is timed on its own, swap included, so that the median and the
// 99th percentile come out beside the mean, each also as a ratio to the floor.
//   xvfb-run -a -s "-screen 0 1920x1080x24" build-render/bench/bench_frame
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/TextureTable.h"
#include "platform/Display.h"
#include "render/DemoFrame.h"
#include "render/ImagePlanes.h"
#include "render/OutlineFont.h"
#include "render/ScrollText.h"
#include "shell/Projection.h"
#include "shell/ShowPlayer.h"

namespace {

constexpr int FramesPerRun = 240;
constexpr int WarmUpFrames = 8;
constexpr double RowsPerFrame = 20.0 / 60.0;  // a 60 Hz display

// A 256 x 256 picture per slot, a different diagonal pattern in each, filtered
// linearly as the image loader uploads them.
void UploadPictures() {
  glGenTextures(TextureSlots, TextureTable);
  std::vector<uint8_t> texels(256 * 256 * 4);
  for (int slot = 0; slot < 7; ++slot) {
    for (int y = 0; y < 256; ++y) {
      for (int x = 0; x < 256; ++x) {
        uint8_t* p = &texels[(y * 256 + x) * 4];
        p[0] = static_cast<uint8_t>(x * (slot + 1));
        p[1] = static_cast<uint8_t>(y * (7 - slot));
        p[2] = static_cast<uint8_t>((x + y) * 2);
        p[3] = 255;
      }
    }
    glBindTexture(GL_TEXTURE_2D, TextureTable[slot]);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 256, 256, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
  }
}

bool Window() {
  static const bool ok = [] {
    DesktopMode mode;
    if (!OpenDisplay() || !QueryDesktopMode(&mode)) return false;
    if (!CreateDemoWindow(mode.width, mode.height, 4)) return false;
    std::fprintf(stderr, "window %dx%d, %d samples, %s\n", mode.width, mode.height,
                 DemoWindowSamples(), glGetString(GL_RENDERER));
    SetupProjection(mode);
    SetFixedGlState();
    CreateOutlineFont();
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    UploadPictures();
    return true;
  }();
  return ok;
}

// scroll.x that puts the first paragraph's start at the left edge, so that
// dense text runs across the whole width: a glyph at advance P lies at
// 7.4 - scroll.x + P text units, and the picture spans about +-7.36 of them.
float ScrollXForDenseText() {
  const std::string line = ScrollText;
  const size_t paragraph = line.find("You are");
  return 7.4f + TextWidth(line.substr(0, paragraph).c_str()) + 7.3f;
}

struct FrameTimes {
  double median = 0, p99 = 0;
};
FrameTimes Floor;

FrameTimes Summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

void Report(benchmark::State& state, const std::vector<double>& ms) {
  const FrameTimes t = Summarise(ms);
  state.counters["median_ms"] = t.median;
  state.counters["p99_ms"] = t.p99;
  if (Floor.median > 0) {
    state.counters["x_floor_median"] = t.median / Floor.median;
    state.counters["x_floor_p99"] = t.p99 / Floor.p99;
  }
}

template <typename Frame>
std::vector<double> TimeFrames(benchmark::State& state, Frame frame) {
  for (int n = 0; n < WarmUpFrames; ++n) frame(n);
  std::vector<double> ms;
  ms.reserve(FramesPerRun);
  int n = WarmUpFrames;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    frame(n++);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(took.count());
    ms.push_back(took.count() * 1e3);
  }
  return ms;
}

void BM_ClearAndSwap(benchmark::State& state) {
  if (!Window()) return state.SkipWithError("no display");
  const auto ms = TimeFrames(state, [](int) {
    glClearColor(0.0f, 0.2f, 0.5f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SwapDemoWindow();
  });
  Floor = Summarise(ms);
  Report(state, ms);
}

// Argument: the control code, 0 for no plane, 1 plane A, 5 plane B, 3 plane C.
void BM_DemoFrame(benchmark::State& state) {
  if (!Window()) return state.SkipWithError("no display");
  FrameTrackValues v;
  v.control = static_cast<float>(state.range(0));
  v.backN = 1.0f;
  v.backR = v.backG = v.backB = 0.8f;
  v.backRotX = 20.0f;
  v.backRotY = 10.0f;
  v.backRotZ = 30.0f;
  v.scrollX = ScrollXForDenseText();
  v.scrollY = 1.0f;
  v.scrollR = 15.0f;
  const FramePlan plan = PlanFrame(v);
  // Faded fully in: every tile at full size from the first timed frame on.
  const FadeState fullyIn{1.0049999775364995, 0.0};
  SetPlaneFades({fullyIn, fullyIn, fullyIn});
  const auto ms = TimeFrames(state, [&](int n) {
    ComposeFrame(plan, v, n * RowsPerFrame);
    SwapDemoWindow();
  });
  Report(state, ms);
}

}  // namespace

// The floor first: the frames after it report their ratios to it.
BENCHMARK(BM_ClearAndSwap)->Iterations(FramesPerRun)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DemoFrame)
    ->ArgName("control")
    ->Arg(0)
    ->Arg(1)
    ->Arg(5)
    ->Arg(3)
    ->Iterations(FramesPerRun)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
