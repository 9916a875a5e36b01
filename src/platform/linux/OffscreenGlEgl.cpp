// Offscreen GL service on EGL with a framebuffer object.
//
// How: EGL gives a desktop-GL compatibility context with no surface at all
// (EGL_KHR_surfaceless_context). The display comes from Mesa's surfaceless
// platform, which needs no window system; where that is missing, from the
// first EGL device (EGL_EXT_platform_device, as GPU drivers offer), and last
// from the default display. The framebuffer and the read-back are
// OffscreenFramebuffer.cpp's, shared with the Windows backend.
//
// What it cannot do:
// - There is one offscreen context per process.
#include "platform/OffscreenGl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstring>
#include <string>

#include "platform/OffscreenFramebuffer.h"

namespace {

EGLDisplay display = EGL_NO_DISPLAY;
EGLContext context = EGL_NO_CONTEXT;

bool HasExtension(const char* list, const char* name) {
  if (!list) return false;
  const size_t length = std::strlen(name);
  for (const char* p = list; (p = std::strstr(p, name)) != nullptr; p += length) {
    const bool starts = p == list || p[-1] == ' ';
    const bool ends = p[length] == '\0' || p[length] == ' ';
    if (starts && ends) return true;
  }
  return false;
}

template <typename T>
bool Load(T& function, const char* name) {
  function = reinterpret_cast<T>(eglGetProcAddress(name));
  return function != nullptr;
}

void* LookUpGlFunction(const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); }

// The display of the first platform that initialises: surfaceless, an EGL
// device, the default display.
EGLDisplay InitialisedDisplay() {
  const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  PFNEGLGETPLATFORMDISPLAYEXTPROC getPlatformDisplay = nullptr;
  if (HasExtension(clientExtensions, "EGL_EXT_platform_base")) {
    Load(getPlatformDisplay, "eglGetPlatformDisplayEXT");
  }
  auto initialise = [](EGLDisplay candidate) {
    if (candidate == EGL_NO_DISPLAY) return EGL_NO_DISPLAY;
    if (eglInitialize(candidate, nullptr, nullptr)) return candidate;
    return EGL_NO_DISPLAY;
  };
  EGLDisplay found = EGL_NO_DISPLAY;
  if (getPlatformDisplay && HasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    found = initialise(getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr));
  }
  PFNEGLQUERYDEVICESEXTPROC queryDevices = nullptr;
  if (found == EGL_NO_DISPLAY && getPlatformDisplay &&
      HasExtension(clientExtensions, "EGL_EXT_platform_device") &&
      Load(queryDevices, "eglQueryDevicesEXT")) {
    EGLDeviceEXT device;
    EGLint devices = 0;
    if (queryDevices(1, &device, &devices) && devices > 0) {
      found = initialise(getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, device, nullptr));
    }
  }
  if (found == EGL_NO_DISPLAY) found = initialise(eglGetDisplay(EGL_DEFAULT_DISPLAY));
  return found;
}

bool CreateContext(std::string& error) {
  display = InitialisedDisplay();
  if (display == EGL_NO_DISPLAY) {
    error = "no EGL display to render with";
    return false;
  }
  if (!HasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context")) {
    error = "the EGL driver cannot make a context current without a surface";
    return false;
  }
  if (!eglBindAPI(EGL_OPENGL_API)) {
    error = "the EGL driver offers no desktop OpenGL";
    return false;
  }
  // No surface will ever be made, so any surface type does (the default asks
  // for windows, which a surfaceless display has none of).
  const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configs = 0;
  if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1) {
    error = "no EGL configuration for desktop OpenGL";
    return false;
  }
  // Display lists and immediate mode need the compatibility profile.
  const EGLint contextAttributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                      EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
  context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
  if (context == EGL_NO_CONTEXT) {
    error = "no OpenGL compatibility context";
    return false;
  }
  if (!eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
    error = "the OpenGL context cannot be made current";
    return false;
  }
  return true;
}

}  // namespace

bool OpenOffscreenGl(int width, int height, int samples, std::string& error) {
  if (context != EGL_NO_CONTEXT) {
    error = "an offscreen context is already open";
    return false;
  }
  if (width <= 0 || height <= 0) {
    error = "the size " + std::to_string(width) + "x" + std::to_string(height) + " is empty";
    return false;
  }
  if (!CreateContext(error) || !OpenOffscreenFramebuffer(LookUpGlFunction, width, height, samples, error)) {
    CloseOffscreenGl();
    return false;
  }
  return true;
}

const char* OffscreenRenderer() {
  const GLubyte* renderer = context != EGL_NO_CONTEXT ? glGetString(GL_RENDERER) : nullptr;
  return renderer ? reinterpret_cast<const char*>(renderer) : "none";
}

void CloseOffscreenGl() {
  if (context != EGL_NO_CONTEXT) CloseOffscreenFramebuffer();
  if (display != EGL_NO_DISPLAY) {
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
    eglTerminate(display);
  }
  context = EGL_NO_CONTEXT;
  display = EGL_NO_DISPLAY;
}
