// The demo's entry: the choice of mode.
#pragma once

struct DemoOptions;

// Runs the mode the options ask for (play, with or without --edit; a still;
// a capture) and returns the process exit code it gives.
int RunDemo(const DemoOptions& options);
