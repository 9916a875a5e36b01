// TESTING ONLY: the start-up's hooks for tests and benchmarks. Only the start-up
// itself includes it besides them; the demo sets no watch, so both hooks stay null.
#pragma once

// loadingFrameDrawn runs after a loading frame is drawn and before it is
// presented, so the picture can still be read back; imageLoaded runs after the
// image of a slot has been loaded.
struct StartUpWatch {
  void (*loadingFrameDrawn)(const char* text) = nullptr;
  void (*imageLoaded)(int slot) = nullptr;
};

// Replaces the watch; WatchStartUp({}) stops watching.
void WatchStartUp(const StartUpWatch& watch);
