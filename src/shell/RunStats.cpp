#include "shell/RunStats.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/Messages.h"
#include "platform/Process.h"

namespace {

using Clock = std::chrono::steady_clock;

// Taken while the program's statics are set up, before main; moved back to
// the process's real start, before its libraries were loaded, when the
// system tells it.
Clock::time_point ProcessStart = Clock::now();

bool Enabled = false;
std::vector<StartUpStep> Steps;
std::string StepName = "window and GL context";
Clock::time_point StepStart = ProcessStart;
std::vector<double> IntervalsMs;
Clock::time_point FirstFrame, LastFrame;
size_t Frames = 0;

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

double Percentile(std::vector<double>& sorted, double p) {
  return sorted[static_cast<size_t>(p * double(sorted.size() - 1) + 0.5)];
}

}  // namespace

void EnableRunStats() {
  Enabled = true;
  const double sinceStart = MsSinceProcessStart();
  if (sinceStart >= 0.0) {
    const Clock::time_point now = Clock::now();
    ProcessStart = std::min(ProcessStart, now - std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double, std::milli>(sinceStart)));
    StepStart = ProcessStart;
  }
}
bool RunStatsEnabled() { return Enabled; }

void MarkStartUpStep(const char* name) {
  if (!Enabled) return;
  const Clock::time_point now = Clock::now();
  Steps.push_back({StepName, MsBetween(StepStart, now)});
  StepName = name;
  StepStart = now;
}

void NoteShowFrame() {
  if (!Enabled) return;
  const Clock::time_point now = Clock::now();
  if (Frames == 0) {
    Steps.push_back({StepName, MsBetween(StepStart, now)});
    SayLines(Subsystem::Stats, StartUpReport(MsBetween(ProcessStart, now), Steps));
    FirstFrame = now;
  } else {
    IntervalsMs.push_back(MsBetween(LastFrame, now));
  }
  LastFrame = now;
  ++Frames;
}

void PrintFrameStats() {
  if (!Enabled || Frames == 0) return;
  SayLines(Subsystem::Stats, FrameReport(Frames, IntervalsMs, MsBetween(FirstFrame, LastFrame)));
}

std::string StartUpReport(double totalMs, const std::vector<StartUpStep>& steps) {
  char line[160];
  std::snprintf(line, sizeof line, "start-up: %.0f ms to the first show frame\n", totalMs);
  std::string report = line;
  for (const StartUpStep& step : steps) {
    std::snprintf(line, sizeof line, "  %-32s %8.1f ms %5.1f %%\n", step.name.c_str(), step.ms,
                  totalMs > 0.0 ? 100.0 * step.ms / totalMs : 0.0);
    report += line;
  }
  return report;
}

std::string FrameReport(size_t frames, std::vector<double> intervalsMs, double spanMs) {
  char line[160];
  if (intervalsMs.empty()) {
    std::snprintf(line, sizeof line, "frames: %zu\n", frames);
    return line;
  }
  std::sort(intervalsMs.begin(), intervalsMs.end());
  // Frames per second over the frames' whole span: n frames bound n - 1 intervals.
  const double fps = spanMs > 0.0 ? 1000.0 * double(frames - 1) / spanMs : 0.0;
  std::snprintf(line, sizeof line, "frames: %zu, median %.2f ms, p99 %.2f ms, %.1f fps\n", frames,
                Percentile(intervalsMs, 0.5), Percentile(intervalsMs, 0.99), fps);
  return line;
}
