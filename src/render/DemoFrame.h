// Frame composition: one picture of the running demo from the tracks at the
// music's current row.
#pragma once

#include "render/FramePlan.h"

// Draws and presents one frame. Returns false when the show has ended (control
// end code): that frame is not presented and a quit has been posted.
bool DemoFrame();

// The fourteen tracks, each evaluated once at the row. A track that was never
// requested counts as one without keys: 0.0.
FrameTrackValues EvaluateFrameTracks(double row);

// Draws the planned frame into the back buffer without presenting it: the
// image plane, the backdrop and the scroll text. DemoFrame is the clock read,
// this, and the swap; tests and tools call it with rows and values of their own.
void ComposeFrame(const FramePlan& plan, const FrameTrackValues& values, double row);
