// Desktop fullscreen asked of an X11 window manager before the window is
// mapped, the way the window-manager conventions let a new window ask.
#pragma once

#include <SDL.h>

// Names _NET_WM_STATE_FULLSCREEN in the window's _NET_WM_STATE, for the
// window manager to apply as it maps the window. Call it while the window is
// hidden. False, with nothing changed, when the window is not an X11 one.
bool AskFullscreenWhenMapped(SDL_Window* window);
