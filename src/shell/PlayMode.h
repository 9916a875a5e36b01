// The described program: the show in a window over the whole desktop (or an
// ordinary window), from the start or part-way, plain or with --edit.
#pragma once

struct DemoOptions;

// Opens the window over the desktop (or an ordinary window of the asked
// size), sets the projection and the fixed GL state, runs the start-up and
// then the message loop until the show ends. Returns the process exit code:
// 0 on every orderly end, 1 when the start is refused or there is no display
// or no GL window to show anything in (said on stderr).
int PlayShow(const DemoOptions& options);
