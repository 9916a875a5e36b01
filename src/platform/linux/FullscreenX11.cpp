// SDL's own desktop fullscreen asks the window manager once the window is
// mapped and then polls for a tenth of a second until the window moves or
// changes size. A window that is already as large as the desktop never does,
// and neither does any window on a server without a window manager: every
// start paid that tenth of a second, and every exit paid it again on the way
// out of fullscreen. A property set before mapping asks the same thing and
// waits for nothing. The Xlib calls stay in this file: its headers define
// names (Display, None, Status) that the rest of the platform layer uses.
#include "platform/linux/FullscreenX11.h"

#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>

bool AskFullscreenWhenMapped(SDL_Window* window) {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
  Display* display = info.info.x11.display;
  const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  const Atom fullscreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
  // A property of format 32 is handed over as longs, which an Atom is.
  XChangeProperty(display, info.info.x11.window, state, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&fullscreen), 1);
  return true;
}
