// The demo's entry sequence and message loop.
#pragma once

#include "platform/Display.h"

struct DemoOptions;

// The desktop the demo covers, read once at start.
extern DesktopMode Desktop;

// Runs what the options ask for. Playing: opens the window over the desktop
// (or an ordinary window of the asked size), sets the projection and the
// fixed GL state, runs the start-up and then the message loop until the show
// ends. Returns the process exit code: 0 on every orderly end, 1 when there is
// no display or no GL window to show anything in (said on stderr).
int RunDemo(const DemoOptions& options);

// The frame rate a viewer's fades are replayed at after the timeline jumps:
// the display's refresh rate, 60 when the system does not say.
double ViewerFrameRate();
// Puts the planes' fades where a viewer who had watched the show from its
// start would have them at row.
void JumpPlaneFadesTo(double row);

// The GL state every frame relies on, set once after the projection.
void SetFixedGlState();

// Each pass handles exactly one waiting message or, when none waits, renders
// exactly one frame; it never sleeps. Ends when a retrieved message is Quit
// (after dispatching it), returning false, or when frame returns false (the
// show ended), returning true.
bool RunMessageLoop(bool (*frame)());
