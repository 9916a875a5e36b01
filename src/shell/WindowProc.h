// The demo window's message handling and loop: Escape, the right mouse button
// and a close request end the demo; other keys are swallowed; everything else
// takes the display's default path.
#pragma once

#include "platform/Display.h"

// Keys other than Escape go here first when set (the edit mode's controls);
// true means the key was taken.
extern bool (*ExtraKeyHandler)(int key);

// Handles one message; the result is the one the message's handling gives
// (0 for everything the demo handles itself).
long WindowProc(const DisplayMessage& msg);

enum class PumpResult { NoneWaiting, Handled, Quit };

// Takes one waiting message, if any, and handles it with WindowProc; a quit
// request from outside the window (TakeQuitSignal) is posted first, so it
// arrives as Quit behind what already waits. Quit: the message handled was
// the quit, the demo is to end.
PumpResult PumpOneMessage();

// Each pass handles exactly one waiting message or, when none waits, renders
// exactly one frame; it never sleeps. Ends when a retrieved message is Quit
// (after dispatching it), returning false, or when frame returns false (the
// show ended), returning true.
bool RunMessageLoop(bool (*frame)());
