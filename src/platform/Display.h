// Display service: the desktop's mode, one borderless window of the desktop's
// size (or, for working on a show, an ordinary window) with a GL compatibility
// context, window messages one at a time without
// blocking, quit posting and buffer swaps.
//
// What callers rely on:
// - OpenDisplay before anything else; every other routine may be called after a
//   failed OpenDisplay or CreateDemoWindow and then does nothing harmful.
// - The demo window covers the desktop exactly, at (0, 0), without a mode change,
//   and its GL context stays current on the calling thread until CloseDisplay.
// - The pixel format is RGBA 8/8/8/8, depth 24, stencil 8, double-buffered, with
//   the requested samples or, when those cannot be had, fewer and then none;
//   a fallback is announced with one line on stderr.
// - PeekDisplayMessage never blocks and removes exactly one message.
// - A posted quit comes back from PeekDisplayMessage as a Quit message, after
//   the messages already waiting; nothing else produces Quit.
#pragma once

struct DesktopMode {
  int width = 0;
  int height = 0;
  int bitsPerPixel = 0;
};

enum class MessageKind { KeyDown, SysKeyDown, RightButtonDown, CloseRequest, Quit, Other };

struct DisplayMessage {
  MessageKind kind = MessageKind::Other;
  int key = 0;  // SDL keycode for KeyDown and SysKeyDown
};

// The keycodes the demo acts on (the values of SDL's keycodes).
inline constexpr int KeyEscape = 0x1B;
inline constexpr int KeyF4 = 0x4000003D;
inline constexpr int KeyF10 = 0x40000043;
inline constexpr int KeySpace = 0x20;
inline constexpr int KeyHome = 0x4000004A;
inline constexpr int KeyRight = 0x4000004F;
inline constexpr int KeyLeft = 0x40000050;
inline constexpr int KeyDown = 0x40000051;
inline constexpr int KeyUp = 0x40000052;

// Connects to the display. False, with one line on stderr, when there is none.
bool OpenDisplay();

// The primary desktop's current mode. False (mode left as it was, a line on
// stderr) when it cannot be read.
bool QueryDesktopMode(DesktopMode* mode);

// Opens the demo window at (0, 0) of width x height, borderless, shown on top
// of the others, and makes its GL context current. samples is the wish; the
// format actually obtained is reported by DemoWindowSamples. False, with the
// reason on stderr, when no window with a GL context can be had at all.
bool CreateDemoWindow(int width, int height, int samples);

// The same, but an ordinary window: framed, movable, with a title, placed by
// the window manager, of width x height drawable pixels. For working on a show
// beside an editor; the picture is framed for the window's own size.
bool CreateOrdinaryWindow(int width, int height, int samples);

// The refresh rate of the display the demo window is on, in Hz; 0 when there
// is no window or the system does not say.
int DisplayRefreshRate();

// Samples per pixel of the window's format (0: not multisampled).
int DemoWindowSamples();

// Hides the mouse cursor while it is over the demo window.
void HideCursor();

// Removes one waiting message into *msg and returns true, or returns false at
// once when none is waiting. Key and button releases, motion and the other
// window events come back as Other.
bool PeekDisplayMessage(DisplayMessage* msg);

// What the system does with a message its window procedure passes on. A system
// key Alt+F4 turns into a close request; everything else is dropped.
// Returns 0, like the default procedure for these messages.
long DefaultMessageAction(const DisplayMessage& msg);

// Swaps the demo window's buffers: presents the frame drawn since the last swap.
void SwapDemoWindow();
// Posts a quit message that the message loop will retrieve.
void PostQuit();

// Releases the context and the window and disconnects from the display.
void CloseDisplay();

// Requests to end the program that come from outside the window (Ctrl+C and
// termination signals, or the console's control events on Windows) end the
// demo through the message loop like Escape does: the loop polls
// TakeQuitSignal. A second request while the first is still pending is the
// same request when the first came less than 2 s before; after that it ends
// the process at once, so that a demo stuck before its loop can still be
// stopped (QuitRequests.h).
void InstallQuitSignals();
// True once per received request.
bool TakeQuitSignal();
// Whether the request TakeQuitSignal took last came from the terminal closing
// (SIGHUP), which nobody asked for, rather than from a request to stop.
bool QuitSignalWasHangUp();
