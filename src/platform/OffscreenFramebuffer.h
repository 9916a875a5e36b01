// The framebuffer half of the offscreen GL service (OffscreenGl.h), shared by
// every backend: once a backend has made a GL compatibility context current,
// this makes the multisampled framebuffer the frames draw into, resolves each
// frame into a single-sample one and reads it back through a small ring of
// pixel buffer objects. A backend adds only the context and the way its
// system looks up GL entry points; OffscreenSampleCount, the read-back calls
// of OffscreenGl.h and the size checks live here once.
#pragma once

#include <string>

// The system's lookup of a GL entry point by name (eglGetProcAddress,
// wglGetProcAddress); null when there is none.
using GlProcLookup = void* (*)(const char* name);

// Checks the size against the current context's limits, loads the
// framebuffer entry points and makes the framebuffers, leaving the
// multisampled one bound for drawing with a viewport of the whole frame.
// False with the reason in error; call CloseOffscreenFramebuffer then too.
bool OpenOffscreenFramebuffer(GlProcLookup lookup, int width, int height, int samples,
                              std::string& error);

// Deletes what OpenOffscreenFramebuffer made (the context must still be
// current) and forgets the entry points. Safe to call more than once.
void CloseOffscreenFramebuffer();
