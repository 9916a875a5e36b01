// Offscreen GL service on WGL with a framebuffer object.
//
// How: WGL makes contexts only for a window's device context, so a window of
// our own class is created and never shown; its legacy pixel format (RGBA,
// depth and stencil, no samples) only carries the context. Frames draw into
// the multisampled framebuffer of OffscreenFramebuffer.cpp, shared with the
// Linux backend; the window's own buffers are never drawn to nor swapped. GL
// entry points beyond 1.1 come from wglGetProcAddress, which is valid only
// while the context is current.
//
// What it cannot do:
// - The context is whatever opengl32 gives for a window (the installed
//   driver's; Wine's is the system's Mesa); a driver that needs a visible
//   window to make a context is not served.
// - There is one offscreen context per process, on the thread that opened it.
#include <windows.h>

#include <GL/gl.h>

#include <string>

#include "platform/OffscreenFramebuffer.h"
#include "platform/OffscreenGl.h"

namespace {

constexpr wchar_t kClassName[] = L"DemoOffscreenGl";

HWND window = nullptr;
HDC windowDc = nullptr;
HGLRC context = nullptr;
bool classRegistered = false;

// wglGetProcAddress answers some failures with small numbers or -1 instead of
// null, depending on the driver.
void* LookUpGlFunction(const char* name) {
  PROC function = wglGetProcAddress(name);
  const INT_PTR value = reinterpret_cast<INT_PTR>(function);
  if (value == 0 || value == 1 || value == 2 || value == 3 || value == -1) return nullptr;
  return reinterpret_cast<void*>(function);
}

std::string SystemError(const char* what) {
  return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

bool CreateHiddenWindow(std::string& error) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  if (!classRegistered) {
    WNDCLASSW windowClass{};
    // The context lives on the window's DC, which must stay the same one.
    windowClass.style = CS_OWNDC;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
      error = SystemError("cannot register the offscreen window class");
      return false;
    }
    classRegistered = true;
  }
  // Never shown: without WS_VISIBLE and ShowWindow it never appears on screen
  // nor in the task bar.
  window = CreateWindowExW(0, kClassName, L"offscreen", WS_OVERLAPPEDWINDOW, 0, 0, 16, 16, nullptr, nullptr,
                           instance, nullptr);
  if (!window) {
    error = SystemError("cannot create the offscreen GL's hidden window");
    return false;
  }
  windowDc = GetDC(window);
  if (!windowDc) {
    error = SystemError("no device context for the offscreen GL's window");
    return false;
  }
  return true;
}

bool CreateContext(std::string& error) {
  PIXELFORMATDESCRIPTOR format{};
  format.nSize = sizeof format;
  format.nVersion = 1;
  format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  format.iPixelType = PFD_TYPE_RGBA;
  format.cColorBits = 32;
  format.cAlphaBits = 8;
  format.cDepthBits = 24;
  format.cStencilBits = 8;
  format.iLayerType = PFD_MAIN_PLANE;
  const int chosen = ChoosePixelFormat(windowDc, &format);
  if (chosen == 0 || !SetPixelFormat(windowDc, chosen, &format)) {
    error = SystemError("no OpenGL pixel format for the offscreen GL's window");
    return false;
  }
  context = wglCreateContext(windowDc);
  if (!context) {
    error = SystemError("no OpenGL context");
    return false;
  }
  if (!wglMakeCurrent(windowDc, context)) {
    error = SystemError("the OpenGL context cannot be made current");
    return false;
  }
  return true;
}

}  // namespace

bool OpenOffscreenGl(int width, int height, int samples, std::string& error) {
  if (context) {
    error = "an offscreen context is already open";
    return false;
  }
  if (width <= 0 || height <= 0) {
    error = "the size " + std::to_string(width) + "x" + std::to_string(height) + " is empty";
    return false;
  }
  if (!CreateHiddenWindow(error) || !CreateContext(error) ||
      !OpenOffscreenFramebuffer(LookUpGlFunction, width, height, samples, error)) {
    CloseOffscreenGl();
    return false;
  }
  return true;
}

const char* OffscreenRenderer() {
  const GLubyte* renderer = context ? glGetString(GL_RENDERER) : nullptr;
  return renderer ? reinterpret_cast<const char*>(renderer) : "none";
}

void CloseOffscreenGl() {
  if (context) {
    CloseOffscreenFramebuffer();
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(context);
  }
  if (window) {
    if (windowDc) ReleaseDC(window, windowDc);
    DestroyWindow(window);
  }
  context = nullptr;
  windowDc = nullptr;
  window = nullptr;
}
