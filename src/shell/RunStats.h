// `demo --stats`: how long the start-up took to the first show frame, step by
// step, and how the show's frames were paced, both on stderr. Every call is a
// no-op until EnableRunStats, so the demo without the option does no timing.
#pragma once

#include <string>
#include <vector>

void EnableRunStats();
bool RunStatsEnabled();

// Ends the start-up step that is running and starts the one named.
void MarkStartUpStep(const char* name);

// After each presented show frame. The first prints the start-up line.
void NoteShowFrame();

// At exit: "frames: N, median X ms, p99 Y ms, Z fps" when any frame was shown.
void PrintFrameStats();

// The two report lines, apart from the clock, so that their wording and
// arithmetic can be checked.
struct StartUpStep {
  std::string name;
  double ms;
};
std::string StartUpReport(double totalMs, const std::vector<StartUpStep>& steps);
// intervalsMs: the times between consecutive presented frames; spanMs: from
// the first frame to the last.
std::string FrameReport(size_t frames, std::vector<double> intervalsMs, double spanMs);
