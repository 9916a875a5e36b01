// A show frame taken apart on the renderer it runs on: for each scene (control
// code) of the bundled show, the same frames drawn five ways in one run, each
// way right after the others so that all see the same machine load:
//   floor      clear and swap only
//   whole      the frame as the demo draws it
//   tiny       every picture swapped for a 1x1 texture of the same format
//   one pixel  tiny, with the frame's drawing scissored to a single pixel
//              (the full clear still runs, outside the scissor)
//   no faces   one pixel, with front and back faces culled: the vertices are
//              still sent and transformed, nothing is rasterised
// The differences give the parts: presentation (floor), driver calls and
// state (no faces - floor), vertex work and set-up (one pixel - no faces),
// fill (tiny - one pixel), texture sampling (whole - tiny), each printed as a
// share of the floor.
//
// Needs a display and res/ in the working directory:
//   cd <repo> && xvfb-run -a -s "-screen 0 1920x1080x24" build/bench/bench_frame_parts [ROW_STEP]
// ROW_STEP (default 8) is the distance in rows between the frames drawn.
// --cpu times each frame by the process's CPU time (all its threads, the
// renderer's included) instead of the wall clock: a steadier measure on a
// busy machine, blind to the display server's share of the swap.
#include <GL/gl.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <vector>

#include "image/TextureTable.h"
#include "platform/Display.h"
#include "render/DemoFrame.h"
#include "render/FramePlan.h"
#include "shell/Projection.h"
#include "shell/ShowPlayer.h"
#include "shell/StartUp.h"

namespace {

using Clock = std::chrono::steady_clock;

enum Way { Floor, Whole, Tiny, OnePixel, NoFaces, WayCount };
const char* const WayNames[WayCount] = {"floor", "whole", "tiny", "one pixel", "no faces"};

bool UseCpuTime = false;

double NowMs() {
  if (UseCpuTime) {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) * 1e-6;
  }
  return std::chrono::duration<double, std::milli>(Clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

void ClearToGround() {
  glClearColor(0.0f, 0.2f, 0.5f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

// 1x1 stand-ins for the picture slots; the real names are kept to put back.
GLuint RealNames[TextureSlots];
GLuint TinyNames[TextureSlots];

void MakeTinyTextures() {
  std::copy(TextureTable, TextureTable + TextureSlots, RealNames);
  glGenTextures(TextureSlots, TinyNames);
  const unsigned char texel[4] = {200, 180, 160, 255};
  for (GLuint name : TinyNames) {
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, texel);
  }
}

double DrawOneWay(Way way, const FramePlan& plan, const FrameTrackValues& values, double row,
                  int width, int height) {
  const double start = NowMs();
  if (way == Floor) {
    ClearToGround();
  } else {
    if (way != Whole) std::copy(TinyNames, TinyNames + TextureSlots, TextureTable);
    if (way == OnePixel || way == NoFaces) {
      ClearToGround();
      glEnable(GL_SCISSOR_TEST);
      glScissor(width / 2, height / 2, 1, 1);
    }
    if (way == NoFaces) {
      glEnable(GL_CULL_FACE);
      glCullFace(GL_FRONT_AND_BACK);
    }
    ComposeFrame(plan, values, row);
    glDisable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    glDisable(GL_SCISSOR_TEST);
    std::copy(RealNames, RealNames + TextureSlots, TextureTable);
  }
  SwapDemoWindow();
  glFinish();
  return NowMs() - start;
}

}  // namespace

int main(int argc, char** argv) {
  double rowStep = 8.0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--cpu") == 0) {
      UseCpuTime = true;
    } else {
      rowStep = std::atof(argv[i]);
      if (rowStep <= 0.0) {
        std::fprintf(stderr, "usage: bench_frame_parts [--cpu] [ROW_STEP > 0]\n");
        return 2;
      }
    }
  }
  if (!OpenDisplay()) return 1;
  DesktopMode desktop;
  if (!QueryDesktopMode(&desktop) || !CreateDemoWindow(desktop.width, desktop.height, 4)) return 1;
  SetupProjection(desktop);
  SetFixedGlState();
  InitDemo();
  MakeTinyTextures();

  // The plane fades step once per drawn row, so the five ways of one row see
  // the same fade: only the first call at a row can step it.
  std::map<int, std::vector<double>> times[WayCount];
  std::vector<double> all[WayCount];
  for (double row = 0.0;; row += rowStep) {
    const FrameTrackValues values = EvaluateFrameTracks(row);
    const FramePlan plan = PlanFrame(values);
    if (plan.endsShow) break;
    const int code = TruncateTrackValue(values.control);
    for (int way = Whole; way < WayCount; ++way) {
      const double ms = DrawOneWay(static_cast<Way>(way), plan, values, row, desktop.width, desktop.height);
      times[way][code].push_back(ms);
      all[way].push_back(ms);
    }
    const double ms = DrawOneWay(Floor, plan, values, row, desktop.width, desktop.height);
    times[Floor][code].push_back(ms);
    all[Floor].push_back(ms);
  }

  const double floor = Median(all[Floor]);
  std::printf("frame parts at %dx%d, %d samples, %s; %s medians as multiples of the clear-and-swap floor (%.2f ms)\n",
              desktop.width, desktop.height, DemoWindowSamples(), UseCpuTime ? "CPU-time" : "wall-time",
              reinterpret_cast<const char*>(glGetString(GL_RENDERER)), floor);
  std::printf("  %-8s %6s %7s | %8s %8s %8s %8s %8s\n", "scene", "frames", "whole", "present", "driver",
              "vertex", "fill", "sampling");
  const auto row = [&](const char* name, size_t frames, const double m[WayCount]) {
    std::printf("  %-8s %6zu %6.2fx | %7.2fx %7.2fx %7.2fx %7.2fx %7.2fx\n", name, frames, m[Whole] / floor,
                m[Floor] / floor, (m[NoFaces] - m[Floor]) / floor, (m[OnePixel] - m[NoFaces]) / floor,
                (m[Tiny] - m[OnePixel]) / floor, (m[Whole] - m[Tiny]) / floor);
  };
  for (const auto& [code, wholeTimes] : times[Whole]) {
    double m[WayCount];
    for (int way = 0; way < WayCount; ++way) m[way] = Median(times[way][code]);
    char name[16];
    std::snprintf(name, sizeof name, "code %d", code);
    row(name, wholeTimes.size(), m);
  }
  double m[WayCount];
  for (int way = 0; way < WayCount; ++way) m[way] = Median(all[way]);
  row("show", all[Whole].size(), m);
  for (int way = 0; way < WayCount; ++way) std::printf("%s%s %.2f ms", way ? ", " : "  medians: ", WayNames[way], m[way]);
  std::printf("\n");
  CloseDisplay();
  return 0;
}
