// Building the outline font: the 256 glyph lists made at start-up, before the
// first loading frame can show. Offscreen GL (Mesa's software renderer), so no
// display is needed:  build-shell/bench/bench_font
#include <GL/gl.h>
#include <benchmark/benchmark.h>

#include <cstdio>

#include "platform/Fonts.h"
#include "render/OutlineFont.h"
#include "support/GlTestContext.h"

namespace {

bool Context() {
  static const bool ok = testsupport::MakeGlContext(64, 64);
  return ok;
}

// The whole start-up step: font lookup, outlines, tessellation, list compile.
void BM_CreateOutlineFont(benchmark::State& state) {
  if (!Context()) return state.SkipWithError("no GL context");
  for (auto _ : state) {
    CreateOutlineFont();
    glFinish();
    state.PauseTiming();
    glDeleteLists(OutlineFont.listBase, 256);
    state.ResumeTiming();
  }
  OutlineFontStats stats;
  const GLuint base = glGenLists(256);
  FontGlyphMetrics metrics[256];
  BuildOutlineFontLists(FindFontFile("Arial", true), base, 0.01f, metrics, &stats);
  glDeleteLists(base, 256);
  state.counters["triangles"] = static_cast<double>(stats.triangles);
  state.counters["contour_points"] = static_cast<double>(stats.vertices);
}
BENCHMARK(BM_CreateOutlineFont)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The font lookup alone, to tell it from the geometry work.
void BM_FindFontFile(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(FindFontFile("Arial", true));
}
BENCHMARK(BM_FindFontFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
