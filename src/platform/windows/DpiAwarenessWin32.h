// DPI awareness on Windows: the demo works in the desktop mode's pixels.
//
// A program that does not declare itself DPI aware lives in coordinates scaled
// down by the display's scale factor (125 %, 150 %), while EnumDisplaySettings
// still reports the mode in physical pixels: the borderless window of the
// desktop's size is then stretched by the compositor, and only its upper-left
// part shows, blurred. The manifest (res/windows/demo.manifest) declares the
// awareness; this is for the systems that ignore it and for programs without
// it (the test programs): the newest call the system has, found at run time,
// before the first window is created.
#pragma once

#include <windows.h>

// The system's awareness calls, each null where the system lacks it.
struct DpiAwarenessCalls {
  // user32's SetProcessDpiAwarenessContext, Windows 10 1703 and later.
  BOOL(WINAPI* setProcessContext)(HANDLE context) = nullptr;
  // shcore's SetProcessDpiAwareness, Windows 8.1 and later.
  HRESULT(WINAPI* setProcessAwareness)(int awareness) = nullptr;
  // user32's SetProcessDPIAware, Vista and later: one scale for all monitors.
  BOOL(WINAPI* setProcessAware)() = nullptr;
  // Why the call before failed (GetLastError).
  DWORD(WINAPI* lastError)() = nullptr;
};

enum class DpiAwarenessResult {
  PerMonitorV2,  // set here, each monitor's own scale, dialogs and menus too
  PerMonitor,    // set here, each monitor's own scale
  System,        // set here, the primary monitor's scale for all
  AlreadySet,    // the manifest (or an earlier call) has set it
  Unaware,       // no call succeeded: the system scales the window
};

// Makes the process DPI aware with the first of the calls that works; a call
// that answers "already set" ends the search as success.
DpiAwarenessResult DeclareDpiAwareness(const DpiAwarenessCalls& calls);

// The calls this system has, from user32 and shcore.
DpiAwarenessCalls SystemDpiAwarenessCalls();

// Once per process, before the first window (the display's OpenDisplay): the
// system's calls, and one line on stderr when none of them works.
void MakeProcessDpiAware();

// For tests: the calls MakeProcessDpiAware makes from now on, and it makes
// them again, once.
void UseDpiAwarenessCalls(DpiAwarenessCalls (*source)());
