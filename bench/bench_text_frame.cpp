// One frame of the 1295-character scroll line against the floor of a frame
// that only clears and swaps, measured side by side in one run on the demo's
// own window: 1920x1080 with 4 samples. Needs an X server:
//   xvfb-run -a -s "-screen 0 1920x1080x24" build-shell/bench/bench_text_frame
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/Display.h"
#include "render/OutlineFont.h"
#include "render/ScrollText.h"
#include "shell/Projection.h"
#include "shell/ShowPlayer.h"

namespace {

bool Window() {
  static const bool ok = [] {
    DesktopMode mode;
    if (!OpenDisplay() || !QueryDesktopMode(&mode)) return false;
    if (!CreateDemoWindow(mode.width, mode.height, 4)) return false;
    std::fprintf(stderr, "window %dx%d, %d samples, %s\n", mode.width, mode.height,
                 DemoWindowSamples(), glGetString(GL_RENDERER));
    SetupProjection(mode);
    SetFixedGlState();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    CreateOutlineFont();
    return true;
  }();
  return ok;
}

void Clear() {
  glClearColor(0.0f, 0.2f, 0.5f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void BM_ClearAndSwap(benchmark::State& state) {
  if (!Window()) return state.SkipWithError("no display");
  for (auto _ : state) {
    Clear();
    SwapDemoWindow();
  }
  glFinish();
}
BENCHMARK(BM_ClearAndSwap)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// scroll.x that puts the start of the first paragraph (after the fifth run of
// 35 or more spaces) at the left edge of the picture, so that dense text fills
// the whole width: a glyph at advance P lies at 7.4 - scroll.x + P text units,
// and the picture spans about +-7.36 of them.
float ScrollXForFirstParagraph() {
  int runs = 0, spaces = 0, i = 0;
  for (; ScrollText[i] && runs < 5; ++i) {
    spaces = ScrollText[i] == ' ' ? spaces + 1 : 0;
    if (spaces == 35) ++runs;
  }
  while (ScrollText[i] == ' ') ++i;
  std::string prefix(ScrollText, ScrollText + i);
  return 7.4f + TextWidth(prefix.c_str()) + 7.0f;
}

void DrawLineFrame(float scrollX) {
  const float scrollY = 3.5f;  // the line on the centre of the picture
  Clear();
  glColor3f(1, 1, 1);
  glDisable(GL_TEXTURE_2D);
  glLoadIdentity();
  glTranslatef(0, 0, -1.0f);
  glScalef(0.1f, 0.1f, 0.1f);
  glTranslatef(static_cast<float>(7.4f - static_cast<double>(scrollX)),
               static_cast<float>(static_cast<double>(scrollY) - 3.5), 0);
  glRotatef(20.0f, 1, 0, 0);
  PrintText(ScrollText, false);
  SwapDemoWindow();
}

// The text part of a demo frame: the line placed as the scroll tracks place
// it, printed whole, then the swap. Argument 0: scroll.x 0, the line just
// right of the picture (all of it clipped); 1: the first paragraph across the
// whole width.
void BM_ScrollLineFrame(benchmark::State& state) {
  if (!Window()) return state.SkipWithError("no display");
  const float scrollX = state.range(0) == 0 ? 0.0f : ScrollXForFirstParagraph();
  for (auto _ : state) DrawLineFrame(scrollX);
  glFinish();
}
BENCHMARK(BM_ScrollLineFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(3.0)->UseRealTime();

// The ratio itself, on a shared machine whose load drifts: a clear-and-swap
// frame and a full-width line frame alternate, each timed on its own, so that
// both see the same load.
void BM_LineToClearRatio(benchmark::State& state) {
  if (!Window()) return state.SkipWithError("no display");
  const float scrollX = ScrollXForFirstParagraph();
  using Clock = std::chrono::steady_clock;
  double clearSeconds = 0, lineSeconds = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    Clear();
    SwapDemoWindow();
    glFinish();
    const auto t1 = Clock::now();
    DrawLineFrame(scrollX);
    glFinish();
    const auto t2 = Clock::now();
    clearSeconds += std::chrono::duration<double>(t1 - t0).count();
    lineSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["clear_ms"] = clearSeconds / n * 1e3;
  state.counters["line_ms"] = lineSeconds / n * 1e3;
  state.counters["ratio"] = lineSeconds / clearSeconds;
}
BENCHMARK(BM_LineToClearRatio)->Unit(benchmark::kMillisecond)->MinTime(6.0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
