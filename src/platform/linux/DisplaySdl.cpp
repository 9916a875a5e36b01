// Display service on SDL2 (X11 under a real or virtual X server, or SDL's
// offscreen driver over EGL in tests).
//
// How: SDL's video subsystem gives the desktop mode, a borderless window and a
// compatibility-profile GL context; SDL's event queue is the message queue.
// A posted quit is an event type of our own, so that only PostQuit yields Quit;
// SDL's own SDL_QUIT (the last window asked to close) is a close request.
//
// What it cannot do:
// - "Shown on top" is a request: without a window manager (bare Xvfb) the newest
//   mapped window is on top anyway; with one, SDL_RaiseWindow asks it politely.
// - Hardware acceleration is asked for and silently given up when the only
//   renderer is a software one (Mesa's llvmpipe), because a software context
//   beats no context.
// - SDL's signal handlers are switched off: SIGINT and SIGTERM belong to the
//   shell, which turns them into a quit.
// - No character messages are produced: the demo reacts to keys only.
// - SDL's offscreen and dummy video drivers count as a display only when
//   SDL_VIDEODRIVER names them: SDL falls back to them on its own when there is
//   no X server, and nobody would see the demo then.
#include "platform/Display.h"

#include <SDL.h>

#include <cstdio>
#include <initializer_list>
#include <vector>

#include "platform/Messages.h"
#include "platform/linux/FullscreenX11.h"

static_assert(KeyEscape == SDLK_ESCAPE && KeyF4 == SDLK_F4 && KeyF10 == SDLK_F10,
              "the demo's keycodes are SDL's");
static_assert(KeySpace == SDLK_SPACE && KeyHome == SDLK_HOME && KeyRight == SDLK_RIGHT &&
                  KeyLeft == SDLK_LEFT && KeyDown == SDLK_DOWN && KeyUp == SDLK_UP,
              "the edit mode's keycodes are SDL's");

namespace {

SDL_Window* window = nullptr;
SDL_GLContext context = nullptr;
int windowSamples = 0;
// SDL_RegisterEvents' answer when no event type is left.
constexpr Uint32 NoEventType = static_cast<Uint32>(-1);
Uint32 quitEventType = NoEventType;
// Without an event type of our own, a posted quit waits here and is delivered
// once the queue is drained (as a quit posted on a Windows message queue is).
bool quitPending = false;
bool videoUp = false;

void RequestFormat(int samples, bool accelerated) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
  SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, samples > 0 ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, samples);
  if (accelerated) SDL_GL_SetAttribute(SDL_GL_ACCELERATED_VISUAL, 1);
}

// One attempt at window plus context with the format asked for; on failure
// nothing is left behind. A demo window as large as the desktop asks for
// desktop fullscreen: without a mode change it covers the panels and docks a
// desktop keeps above ordinary borderless windows. On X11 it is asked for
// before the window is mapped (FullscreenX11.cpp says why), elsewhere through
// SDL. Smaller ones (tests) stay plain borderless windows at (0, 0). An
// ordinary window has a frame and a title, and the window manager places it.
bool TryWindow(int width, int height, bool ordinary) {
  if (ordinary) {
    window = SDL_CreateWindow("demo", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                              SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
  } else {
    window = SDL_CreateWindow("", 0, 0, width, height,
                              SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    SDL_DisplayMode desktop;
    if (window && SDL_GetDesktopDisplayMode(0, &desktop) == 0 && desktop.w == width &&
        desktop.h == height && !AskFullscreenWhenMapped(window)) {
      SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    }
    if (window) SDL_ShowWindow(window);
  }
  if (!window) return false;
  context = SDL_GL_CreateContext(window);
  if (!context) {
    SDL_DestroyWindow(window);
    window = nullptr;
    return false;
  }
  return true;
}

}  // namespace

bool OpenDisplay() {
  if (videoUp) return true;
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  // Without this SDL makes every poll that follows a drained queue come back
  // empty once, and a quit posted while handling a message would wait behind
  // a frame: waiting messages must always come first.
  SDL_SetHint(SDL_HINT_POLL_SENTINEL, "0");
  // A borderless desktop-sized window must stay up when focus moves elsewhere.
  SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
  // SDL drops a click handled within moments of the window gaining focus. The
  // queue is read in bursts while loading, so focus and a right click that
  // came long apart are handled together there: the click would be lost.
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    Say(Subsystem::Display, "no display: %s", SDL_GetError());
    return false;
  }
  // With no X server SDL settles for its offscreen driver by itself, and the
  // demo would play to nobody, unstoppable but by a signal. Drivers without a
  // screen are taken only when asked for by name (as the tests do).
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  const bool headless = driver && (SDL_strcmp(driver, "offscreen") == 0 || SDL_strcmp(driver, "dummy") == 0);
  if (headless && !(asked && SDL_strcasecmp(asked, driver) == 0)) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    Say(Subsystem::Display, "no display to show the demo on (is DISPLAY set?)");
    return false;
  }
  videoUp = true;
  quitPending = false;
  if (quitEventType == NoEventType) quitEventType = SDL_RegisterEvents(1);
  return true;
}

bool QueryDesktopMode(DesktopMode* mode) {
  SDL_DisplayMode current;
  if (!videoUp || SDL_GetDesktopDisplayMode(0, &current) != 0) {
    Say(Subsystem::Display, "cannot read the desktop mode: %s",
        videoUp ? SDL_GetError() : "no display");
    return false;
  }
  mode->width = current.w;
  mode->height = current.h;
  mode->bitsPerPixel = static_cast<int>(SDL_BITSPERPIXEL(current.format));
  return true;
}

namespace {

bool OpenWindow(int width, int height, int samples, bool ordinary) {
  if (!videoUp || window) return window != nullptr;
  if (width <= 0 || height <= 0) {
    Say(Subsystem::Display, "cannot open a %dx%d window", width, height);
    return false;
  }
  // The ladder of formats: the wish, then half the samples down to 2, then
  // none; each first with hardware acceleration, then with whatever renders.
  std::vector<int> ladder;
  for (int s = samples; s > 1; s /= 2) ladder.push_back(s);
  ladder.push_back(0);
  for (size_t i = 0; i < ladder.size() && !window; ++i) {
    for (bool accelerated : {true, false}) {
      RequestFormat(ladder[i], accelerated);
      if (TryWindow(width, height, ordinary)) break;
    }
  }
  if (!window) {
    Say(Subsystem::Display, "no window with an OpenGL context: %s", SDL_GetError());
    return false;
  }
  int buffers = 0;
  SDL_GL_GetAttribute(SDL_GL_MULTISAMPLEBUFFERS, &buffers);
  SDL_GL_GetAttribute(SDL_GL_MULTISAMPLESAMPLES, &windowSamples);
  if (buffers == 0) windowSamples = 0;
  if (windowSamples < samples) {
    Say(Subsystem::Display, "%d samples per pixel not available, using %d", samples,
        windowSamples);
  }
  SDL_RaiseWindow(window);
  SDL_GL_MakeCurrent(window, context);
  return true;
}

}  // namespace

bool CreateDemoWindow(int width, int height, int samples) { return OpenWindow(width, height, samples, false); }

bool CreateOrdinaryWindow(int width, int height, int samples) { return OpenWindow(width, height, samples, true); }

int DisplayRefreshRate() {
  if (!window) return 0;
  SDL_DisplayMode mode;
  const int display = SDL_GetWindowDisplayIndex(window);
  if (display < 0 || SDL_GetCurrentDisplayMode(display, &mode) != 0) return 0;
  return mode.refresh_rate > 0 ? mode.refresh_rate : 0;
}

int DemoWindowSamples() { return windowSamples; }

void HideCursor() {
  if (videoUp) SDL_ShowCursor(SDL_DISABLE);
}

bool PeekDisplayMessage(DisplayMessage* msg) {
  SDL_Event event;
  if (!videoUp) return false;
  if (SDL_PollEvent(&event) == 0) {
    if (!quitPending) return false;
    quitPending = false;
    *msg = DisplayMessage{};
    msg->kind = MessageKind::Quit;
    return true;
  }
  *msg = DisplayMessage{};
  if (quitEventType != NoEventType && event.type == quitEventType) {
    msg->kind = MessageKind::Quit;
    return true;
  }
  switch (event.type) {
    case SDL_KEYDOWN: {
      const SDL_Keycode key = event.key.keysym.sym;
      // Alt combinations and F10 are the system keys of a window: they belong
      // to the default handling, not to the demo's key handling.
      const bool system = (event.key.keysym.mod & KMOD_ALT) != 0 || key == SDLK_F10;
      msg->kind = system ? MessageKind::SysKeyDown : MessageKind::KeyDown;
      msg->key = key;
      break;
    }
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.button == SDL_BUTTON_RIGHT) msg->kind = MessageKind::RightButtonDown;
      break;
    case SDL_WINDOWEVENT:
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) msg->kind = MessageKind::CloseRequest;
      break;
    case SDL_QUIT:
      msg->kind = MessageKind::CloseRequest;
      break;
    default:
      break;
  }
  return true;
}

long DefaultMessageAction(const DisplayMessage& msg) {
  if (msg.kind == MessageKind::SysKeyDown && msg.key == KeyF4 && videoUp) {
    SDL_Event event{};
    event.type = SDL_QUIT;
    SDL_PushEvent(&event);
  }
  return 0;
}

void SwapDemoWindow() {
  if (window) SDL_GL_SwapWindow(window);
}

void PostQuit() {
  if (!videoUp) return;
  SDL_Event event{};
  event.type = quitEventType;
  if (quitEventType == NoEventType || SDL_PushEvent(&event) != 1) quitPending = true;
}

void CloseDisplay() {
  if (context) SDL_GL_DeleteContext(context);
  if (window) SDL_DestroyWindow(window);
  context = nullptr;
  window = nullptr;
  if (videoUp) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  videoUp = false;
  quitPending = false;
}
