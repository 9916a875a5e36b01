// The bundled show measured the way it runs: start-up from process start to
// the first demo frame with the share of each step, then frame times over the
// whole show against a clear-and-swap floor measured in the same run.
//
// Needs a display and res/ in the working directory:
//   cd <repo> && xvfb-run -s "-screen 0 1920x1080x24" build/bench/bench_show [ROW_STEP]
// ROW_STEP (default 2) is the distance in rows between the frames drawn.
#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/Display.h"
#include "platform/Process.h"
#include "render/DemoFrame.h"
#include "render/FramePlan.h"
#include "shell/Projection.h"
#include "shell/ShowPlayer.h"
#include "shell/StartUp.h"
#include "shell/StartUpTesting.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point processStart = Clock::now();  // static init: where the system keeps no record

struct Step {
  std::string name;
  double ms;
};
std::vector<Step> steps;
Clock::time_point stepStart;
std::string stepName = "font and texture names";

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// From the process's real start where the system records it (before the
// libraries were loaded, and before the demo's start over), else from the
// statics.
double MsSinceStart() {
  const double ms = MsSinceProcessStart();
  return ms >= 0.0 ? ms : MsSince(processStart);
}

void EndStep(const std::string& next) {
  steps.push_back({stepName, MsSince(stepStart)});
  stepStart = Clock::now();
  stepName = next;
}

const char* const SlotFiles[] = {"vorn.gif", "dravel.jpg", "tile.jpg", "grlsch.png",
                                 "nightbacon.gif", "atari_st_bee.gif", "poubell.gif"};
int framesSeen = 0;

void OnLoadingFrame(const char*) {
  // The first loading frame closes the font step; from there on each step is
  // one image with the loading frame presented before it.
  if (framesSeen++ == 0) EndStep("image vorn.gif");
}
void OnImageLoaded(int slot) {
  if (slot + 1 < 7) EndStep(std::string("image ") + SlotFiles[slot + 1]);
  else EndStep("music and tracks, playback start");
}

// The process's peak resident set so far, from /proc (Linux); -1 elsewhere.
double PeakResidentMiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  return -1.0;
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<size_t>(p * (v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  const double rowStep = argc > 1 ? std::atof(argv[1]) : 2.0;
  PrepareDemoProcess(argv);  // as the demo does
  if (!OpenDisplay()) return 1;
  DesktopMode desktop;
  if (!QueryDesktopMode(&desktop) || !CreateDemoWindow(desktop.width, desktop.height, 4)) return 1;
  SetupProjection(desktop);
  SetFixedGlState();
  const double windowMs = MsSinceStart();

  // The image steps are told apart by the watcher: frame n+1 is presented
  // right before image n loads, so an image's time runs from its loaded
  // predecessor to itself.
  WatchStartUp({OnLoadingFrame, OnImageLoaded});
  stepStart = Clock::now();
  InitDemo();
  EndStep("");
  WatchStartUp({});
  const Clock::time_point firstFrameStart = Clock::now();
  DemoFrame();
  glFinish();
  const double firstFrameMs = MsSince(firstFrameStart);
  const double totalMs = MsSinceStart();

  std::printf("start-up at %dx%d, %d samples: %.1f ms from process start to the first demo frame\n",
              desktop.width, desktop.height, DemoWindowSamples(), totalMs);
  std::printf("  %-34s %9.1f ms %5.1f %%\n", "window and GL context", windowMs, 100 * windowMs / totalMs);
  for (const Step& s : steps) {
    std::printf("  %-34s %9.1f ms %5.1f %%\n", s.name.c_str(), s.ms, 100 * s.ms / totalMs);
  }
  std::printf("  %-34s %9.1f ms %5.1f %%\n", "first demo frame", firstFrameMs, 100 * firstFrameMs / totalMs);
  std::printf("peak resident memory at the first demo frame: %.0f MiB\n", PeakResidentMiB());

  // Frames across the whole show, each followed by a clear-and-swap floor
  // frame, so both see the same machine load.
  std::vector<double> frameMs, floorMs;
  std::map<int, std::vector<double>> byControl;  // control code -> frame times
  int lastCode = 0;
  for (double row = 0.0;; row += rowStep) {
    const FrameTrackValues values = EvaluateFrameTracks(row);
    const FramePlan plan = PlanFrame(values);
    if (plan.endsShow) {
      lastCode = TruncateTrackValue(values.control);
      break;
    }
    Clock::time_point t = Clock::now();
    ComposeFrame(plan, values, row);
    SwapDemoWindow();
    glFinish();
    const double ms = MsSince(t);
    frameMs.push_back(ms);
    byControl[TruncateTrackValue(values.control)].push_back(ms);

    t = Clock::now();
    glClearColor(0.0f, 0.2f, 0.5f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SwapDemoWindow();
    glFinish();
    floorMs.push_back(MsSince(t));
  }
  const double floorMedian = Percentile(floorMs, 0.5);
  std::printf("\nwhole show, %zu frames every %.2f rows up to the end (code %d):\n", frameMs.size(), rowStep,
              lastCode);
  std::printf("  clear-and-swap floor: median %.2f ms, p99 %.2f ms\n", floorMedian, Percentile(floorMs, 0.99));
  std::printf("  show frames:          median %.2f ms (%.2fx floor), p99 %.2f ms (%.2fx floor)\n",
              Percentile(frameMs, 0.5), Percentile(frameMs, 0.5) / floorMedian, Percentile(frameMs, 0.99),
              Percentile(frameMs, 0.99) / floorMedian);
  std::printf("  by control code (median):\n");
  int slowest = 0;
  double slowestMedian = -1;
  for (const auto& [code, times] : byControl) {
    const double median = Percentile(times, 0.5);
    std::printf("    code %3d: %5zu frames, median %.2f ms (%.2fx floor)\n", code, times.size(), median,
                median / floorMedian);
    if (median > slowestMedian) slowestMedian = median, slowest = code;
  }
  std::printf("  slowest scene: control code %d, median %.2f ms\n", slowest, slowestMedian);
  CloseDisplay();
  return 0;
}
