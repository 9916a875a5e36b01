// Display service on Win32 and WGL.
//
// How: the window class "Thing"; the desktop mode from EnumDisplaySettingsA;
// a throw-away 1x1 probe window with the legacy pixel format and a temporary
// context, only to reach wglChoosePixelFormatARB, which picks the multisampled
// format; then the final borderless popup at (0, 0) of the desktop's size with
// that format and the context the demo keeps. Messages come from the thread's
// queue one at a time with PeekMessageA.
//
// Messages: PeekDisplayMessage removes a message, translates it and hands the
// shell its kind; the message reaches the window procedure (and through it
// DefWindowProcA) only when the shell passes it on with DefaultMessageAction,
// so a key the shell swallows gets no default processing. Messages the system
// sends straight to the window procedure never pass the queue: a close request
// (WM_CLOSE, from Alt+F4 or the window manager) is therefore posted back to
// the queue as a message of our own and comes out as CloseRequest, and
// WM_DESTROY does nothing, so that only PostQuit yields Quit.
//
// Pixel formats: the wish first (RGBA 8/8/8/8, depth 24, stencil 8, double
// buffered, N samples, fully accelerated), then half the samples down to 2,
// then none; each step first accelerated, then with whatever renders (Wine on
// a software renderer). When the extension is missing or nothing matches, the
// legacy format of the probe is used. A fallback is one line on stderr.
//
// Scaled displays: the process is made DPI aware before the first window
// (DpiAwarenessWin32.h), so that the desktop mode's pixels are the window's.
//
// What it cannot do:
// - The desktop is the primary monitor's mode; other monitors stay as they are.
// - Keycodes are given for the keys the demo might act on (letters, digits,
//   Escape, Return, Tab, Backspace, Space, Delete, Home, arrows, F1 to F12); any other
//   key comes with keycode 0.
#include <windows.h>

#include <GL/gl.h>
#include <GL/wglext.h>

#include <cstdio>
#include <initializer_list>

#include "platform/Display.h"
#include "platform/Messages.h"
#include "platform/windows/DpiAwarenessWin32.h"

namespace {

constexpr char kClassName[] = "Thing";
// Our own close request, posted back to the queue from the window procedure.
constexpr UINT kCloseRequestMessage = WM_APP + 1;
// GL 1.3's GL_SAMPLES: opengl32's headers stop at 1.1.
constexpr GLenum kGlSamples = 0x80A9;

bool classRegistered = false;
DEVMODEA desktopMode{};
HWND window = nullptr;
HDC windowDc = nullptr;
HGLRC context = nullptr;
int windowSamples = 0;
bool cursorHidden = false;
// The message PeekDisplayMessage returned last, until the shell passes it on.
MSG pendingMessage{};
bool messagePending = false;

// The legacy format: the probe window's, and the descriptor that goes with
// the chosen format on the final window. cColorBits is the desktop's depth.
PIXELFORMATDESCRIPTOR BasePixelFormat() {
  PIXELFORMATDESCRIPTOR format{};
  format.nSize = sizeof format;
  format.nVersion = 1;
  format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  format.iPixelType = PFD_TYPE_RGBA;
  format.cColorBits = static_cast<BYTE>(desktopMode.dmBitsPerPel);
  format.cDepthBits = 16;
  format.iLayerType = PFD_MAIN_PLANE;
  return format;
}

LRESULT CALLBACK DemoWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      PostMessageA(hwnd, kCloseRequestMessage, 0, 0);
      return 0;
    case WM_DESTROY:
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

HWND CreatePopup(int width, int height) {
  return CreateWindowExA(WS_EX_APPWINDOW, kClassName, "",
                         WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0, width,
                         height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

// A framed, movable window whose drawable part is width x height, placed by
// the system.
HWND CreateFramed(int width, int height) {
  const DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
  RECT frame{0, 0, width, height};
  AdjustWindowRectEx(&frame, style, FALSE, WS_EX_APPWINDOW);
  return CreateWindowExA(WS_EX_APPWINDOW, kClassName, "demo", style, CW_USEDEFAULT, CW_USEDEFAULT,
                         frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

// The window's samples as the GL sees them: what is reported is what runs.
int CurrentSamples() {
  GLint samples = 0;
  glGetIntegerv(kGlSamples, &samples);
  return glGetError() == GL_NO_ERROR ? samples : 0;
}

struct ChosenFormat {
  int index = 0;       // 0: none
  bool multisampled = false;
};

// Asks wglChoosePixelFormatARB along the ladder; index 0 when nothing matched.
ChosenFormat ChooseMultisampledFormat(PFNWGLCHOOSEPIXELFORMATARBPROC choose, HDC dc,
                                      int samples) {
  int ladder[8];
  int steps = 0;
  for (int s = samples; s > 1 && steps < 7; s /= 2) ladder[steps++] = s;
  ladder[steps++] = 0;
  const float noFloatAttributes[] = {0.0f, 0.0f};
  for (int i = 0; i < steps; ++i) {
    for (bool accelerated : {true, false}) {
      int attributes[32];
      int n = 0;
      auto add = [&](int name, int value) {
        attributes[n++] = name;
        attributes[n++] = value;
      };
      add(WGL_DRAW_TO_WINDOW_ARB, 1);
      add(WGL_SUPPORT_OPENGL_ARB, 1);
      if (accelerated) add(WGL_ACCELERATION_ARB, WGL_FULL_ACCELERATION_ARB);
      add(WGL_COLOR_BITS_ARB, 24);
      add(WGL_ALPHA_BITS_ARB, 8);
      add(WGL_DEPTH_BITS_ARB, 24);
      add(WGL_STENCIL_BITS_ARB, 8);
      add(WGL_DOUBLE_BUFFER_ARB, 1);
      if (ladder[i] > 0) {
        add(WGL_SAMPLE_BUFFERS_ARB, 1);
        add(WGL_SAMPLES_ARB, ladder[i]);
      }
      add(0, 0);
      int index = 0;
      UINT count = 0;
      if (choose(dc, attributes, noFloatAttributes, 1, &index, &count) && count > 0 && index > 0) {
        return {index, ladder[i] > 0};
      }
    }
  }
  return {};
}

// The probe: a 1x1 window with the legacy format and a temporary context,
// torn down before returning. Returns the format for the final window (the
// legacy one when the extension is missing or matches nothing) and says why
// in *reason when it falls back to the legacy one.
int ProbePixelFormat(int samples, const char** reason) {
  HWND probe = CreatePopup(1, 1);
  if (!probe) {
    *reason = "no probe window";
    return 0;
  }
  HDC dc = GetDC(probe);
  const PIXELFORMATDESCRIPTOR base = BasePixelFormat();
  int chosen = ChoosePixelFormat(dc, &base);
  if (chosen == 0 || !SetPixelFormat(dc, chosen, &base)) {
    *reason = "no basic pixel format";
    chosen = 0;
  } else if (HGLRC temporary = wglCreateContext(dc); !temporary) {
    *reason = "no basic GL context";
    chosen = 0;
  } else {
    wglMakeCurrent(dc, temporary);
    auto choose = reinterpret_cast<PFNWGLCHOOSEPIXELFORMATARBPROC>(
        reinterpret_cast<void*>(wglGetProcAddress("wglChoosePixelFormatARB")));
    if (!choose) {
      *reason = "wglChoosePixelFormatARB is missing";
    } else if (ChosenFormat format = ChooseMultisampledFormat(choose, dc, samples);
               format.index == 0) {
      *reason = "no pixel format matches";
    } else {
      chosen = format.index;
    }
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(temporary);
  }
  ReleaseDC(probe, dc);
  DestroyWindow(probe);
  return chosen;
}

void ReleaseWindow() {
  if (context) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(context);
  }
  if (windowDc) ReleaseDC(window, windowDc);
  if (window) DestroyWindow(window);
  context = nullptr;
  windowDc = nullptr;
  window = nullptr;
  windowSamples = 0;
}

// The keycodes of Display.h (SDL's values) for a virtual key.
int KeyFromVirtualKey(WPARAM vk) {
  if (vk >= 'A' && vk <= 'Z') return static_cast<int>(vk - 'A' + 'a');
  if (vk >= '0' && vk <= '9') return static_cast<int>(vk);
  if (vk >= VK_F1 && vk <= VK_F12) return KeyF4 - 3 + static_cast<int>(vk - VK_F1);
  switch (vk) {
    case VK_ESCAPE: return KeyEscape;
    case VK_RETURN: return '\r';
    case VK_TAB: return '\t';
    case VK_BACK: return '\b';
    case VK_SPACE: return ' ';
    case VK_DELETE: return 0x7F;
    case VK_HOME: return KeyHome;
    case VK_RIGHT: return KeyRight;
    case VK_LEFT: return KeyLeft;
    case VK_DOWN: return KeyDown;
    case VK_UP: return KeyUp;
    default: return 0;
  }
}

}  // namespace

static_assert(KeyF10 == KeyF4 + (VK_F10 - VK_F4), "F1 to F12 are consecutive keycodes");

bool OpenDisplay() {
  if (classRegistered) return true;
  // Before the first window, probe included: a window keeps the awareness
  // it was created with.
  MakeProcessDpiAware();

  WNDCLASSA windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
  windowClass.lpfnWndProc = DemoWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  windowClass.lpszClassName = kClassName;
  if (!RegisterClassA(&windowClass)) {
    Say(Subsystem::Display, "cannot register the window class (error %lu)",
        GetLastError());
    return false;
  }
  classRegistered = true;
  return true;
}

bool QueryDesktopMode(DesktopMode* mode) {
  DEVMODEA current{};
  current.dmSize = sizeof current;
  if (!classRegistered || !EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &current)) {
    Say(Subsystem::Display, "cannot read the desktop mode");
    return false;
  }
  desktopMode = current;
  mode->width = static_cast<int>(current.dmPelsWidth);
  mode->height = static_cast<int>(current.dmPelsHeight);
  mode->bitsPerPixel = static_cast<int>(current.dmBitsPerPel & 0xFF);
  return true;
}

namespace {

bool OpenWindow(int width, int height, int samples, bool framed) {
  if (!classRegistered || window) return window != nullptr;
  if (width <= 0 || height <= 0) {
    Say(Subsystem::Display, "cannot open a %dx%d window", width, height);
    return false;
  }
  // A caller that did not ask for the desktop mode still gets a legacy format
  // of the desktop's depth.
  if (desktopMode.dmBitsPerPel == 0) {
    desktopMode.dmSize = sizeof desktopMode;
    EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &desktopMode);
  }
  const char* fallbackReason = nullptr;
  int format = ProbePixelFormat(samples, &fallbackReason);

  window = framed ? CreateFramed(width, height) : CreatePopup(width, height);
  if (!window) {
    Say(Subsystem::Display, "cannot create the window (error %lu)", GetLastError());
    return false;
  }
  if (!framed) SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  windowDc = GetDC(window);
  const PIXELFORMATDESCRIPTOR base = BasePixelFormat();
  if (format == 0) format = ChoosePixelFormat(windowDc, &base);
  if (format == 0 || !SetPixelFormat(windowDc, format, &base) ||
      !(context = wglCreateContext(windowDc)) || !wglMakeCurrent(windowDc, context)) {
    Say(Subsystem::Display, "no window with an OpenGL context (error %lu)",
        GetLastError());
    ReleaseWindow();
    return false;
  }
  windowSamples = CurrentSamples();
  if (windowSamples < samples) {
    Say(Subsystem::Display, "%d samples per pixel not available, using %d%s%s",
        samples, windowSamples, fallbackReason ? ": " : "",
        fallbackReason ? fallbackReason : "");
  }
  return true;
}

}  // namespace

bool CreateDemoWindow(int width, int height, int samples) { return OpenWindow(width, height, samples, false); }

bool CreateOrdinaryWindow(int width, int height, int samples) { return OpenWindow(width, height, samples, true); }

int DisplayRefreshRate() {
  if (!window) return 0;
  DEVMODEA current{};
  current.dmSize = sizeof current;
  if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &current)) return 0;
  // 0 and 1 stand for the hardware's default rate, which the system does not name.
  return current.dmDisplayFrequency > 1 ? static_cast<int>(current.dmDisplayFrequency) : 0;
}

int DemoWindowSamples() { return windowSamples; }

void HideCursor() {
  // ShowCursor counts: hiding twice would need showing twice.
  if (!window || cursorHidden) return;
  ShowCursor(FALSE);
  cursorHidden = true;
}

bool PeekDisplayMessage(DisplayMessage* msg) {
  if (!classRegistered) return false;
  MSG raw;
  if (!PeekMessageA(&raw, nullptr, 0, 0, PM_REMOVE)) return false;
  *msg = DisplayMessage{};
  messagePending = false;
  if (raw.message == WM_QUIT) {
    msg->kind = MessageKind::Quit;
    return true;
  }
  TranslateMessage(&raw);
  switch (raw.message) {
    case WM_KEYDOWN:
      msg->kind = MessageKind::KeyDown;
      msg->key = KeyFromVirtualKey(raw.wParam);
      break;
    case WM_SYSKEYDOWN:
      msg->kind = MessageKind::SysKeyDown;
      msg->key = KeyFromVirtualKey(raw.wParam);
      break;
    case WM_RBUTTONDOWN:
      msg->kind = MessageKind::RightButtonDown;
      break;
    case kCloseRequestMessage:
      msg->kind = MessageKind::CloseRequest;
      return true;  // ours alone: nothing to pass on
    default:
      break;
  }
  pendingMessage = raw;
  messagePending = true;
  return true;
}

long DefaultMessageAction(const DisplayMessage&) {
  if (!messagePending) return 0;
  messagePending = false;
  return static_cast<long>(DispatchMessageA(&pendingMessage));
}

void SwapDemoWindow() {
  if (windowDc) SwapBuffers(windowDc);
}

void PostQuit() {
  if (classRegistered) PostQuitMessage(0);
}

void CloseDisplay() {
  ReleaseWindow();
  if (cursorHidden) ShowCursor(TRUE);
  cursorHidden = false;
  messagePending = false;
  if (!classRegistered) return;
  // A quit or close request still queued belongs to the window just closed,
  // not to one opened later.
  MSG stale;
  while (PeekMessageA(&stale, nullptr, 0, 0, PM_REMOVE)) {
  }
  UnregisterClassA(kClassName, GetModuleHandleA(nullptr));
  classRegistered = false;
  desktopMode = DEVMODEA{};
}
