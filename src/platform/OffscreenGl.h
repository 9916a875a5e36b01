// Offscreen GL service: a GL compatibility context with no window and no
// display, drawing into a multisampled framebuffer of a chosen size whose
// pictures are read back as RGBA rows. Stills and video capture draw with the
// very GL code of the window; only where the pixels end up differs.
//
// What callers rely on:
// - OpenOffscreenGl needs no display: on Linux neither an X server nor
//   DISPLAY (EGL), on Windows no visible window (a hidden one carries the WGL
//   context; under Wine that still needs an X server). The context stays
//   current on the calling thread until CloseOffscreenGl.
// - The framebuffer is RGBA 8/8/8/8 with depth 24 and stencil 8 and the samples
//   asked for, or the most this GL offers when that is fewer (announced with
//   one line on stderr). It stays bound for drawing: the demo's frames draw
//   into it as they would into a window's back buffer.
// - A size of 0 or beyond the GL's renderbuffer or viewport limits is refused
//   with the reason, before anything is drawn.
// - Read-back is queued: QueueOffscreenReadback resolves the samples of the
//   frame just drawn and starts reading it; TakeOffscreenReadback hands out the
//   oldest queued frame. Up to OffscreenReadbackDepth frames may be in flight,
//   so that reading one frame overlaps drawing the next.
#pragma once

#include <cstdint>
#include <string>

inline constexpr int OffscreenReadbackDepth = 3;

// Creates the context and a width x height framebuffer with samples per pixel.
// False with the reason in error (nothing left open) when either cannot be had.
bool OpenOffscreenGl(int width, int height, int samples, std::string& error);

// Samples per pixel of the framebuffer (0: not multisampled).
int OffscreenSampleCount();

// The GL's renderer string, for reports.
const char* OffscreenRenderer();

// Resolves the frame drawn since the last call and queues its read-back. Call
// TakeOffscreenReadback first when OffscreenReadbackDepth frames are queued.
void QueueOffscreenReadback();

// Frames queued and not yet taken.
int QueuedOffscreenReadbacks();

// Copies the oldest queued frame into out: width * height * 4 bytes, RGBA,
// rows bottom to top as GL stores them. False when nothing is queued.
bool TakeOffscreenReadback(uint8_t* out);

// Releases the framebuffer and the context. Safe to call more than once.
void CloseOffscreenGl();
