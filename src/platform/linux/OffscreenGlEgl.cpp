// Offscreen GL service on EGL with a framebuffer object.
//
// How: EGL gives a desktop-GL compatibility context with no surface at all
// (EGL_KHR_surfaceless_context). The display comes from Mesa's surfaceless
// platform, which needs no window system; where that is missing, from the
// first EGL device (EGL_EXT_platform_device, as GPU drivers offer), and last
// from the default display. Frames draw into a multisampled renderbuffer pair;
// each read-back blits it into a single-sample framebuffer and reads that into
// a pixel buffer object of a small ring, so a GPU can copy one frame while the
// next is drawn. Nothing waits for a read-back until its frame is taken.
//
// What it cannot do:
// - A GL without framebuffer objects (before 3.0 and without the ARB
//   extension) is refused: there would be nowhere to draw.
// - There is one offscreen context per process.
#include "platform/OffscreenGl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/Messages.h"

namespace {

// The GL 3.0 entry points the framebuffer and the read-back ring need; the
// system's GL headers declare only 1.x functions as symbols.
struct FramebufferFunctions {
  PFNGLGENFRAMEBUFFERSPROC genFramebuffers;
  PFNGLDELETEFRAMEBUFFERSPROC deleteFramebuffers;
  PFNGLBINDFRAMEBUFFERPROC bindFramebuffer;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC framebufferRenderbuffer;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC checkFramebufferStatus;
  PFNGLGENRENDERBUFFERSPROC genRenderbuffers;
  PFNGLDELETERENDERBUFFERSPROC deleteRenderbuffers;
  PFNGLBINDRENDERBUFFERPROC bindRenderbuffer;
  PFNGLRENDERBUFFERSTORAGEMULTISAMPLEPROC renderbufferStorageMultisample;
  PFNGLBLITFRAMEBUFFERPROC blitFramebuffer;
  PFNGLGENBUFFERSPROC genBuffers;
  PFNGLDELETEBUFFERSPROC deleteBuffers;
  PFNGLBINDBUFFERPROC bindBuffer;
  PFNGLBUFFERDATAPROC bufferData;
  PFNGLMAPBUFFERRANGEPROC mapBufferRange;
  PFNGLUNMAPBUFFERPROC unmapBuffer;
};

FramebufferFunctions gl{};

EGLDisplay display = EGL_NO_DISPLAY;
EGLContext context = EGL_NO_CONTEXT;
int frameWidth = 0;
int frameHeight = 0;
int frameSamples = 0;
GLuint drawFramebuffer = 0;
GLuint resolveFramebuffer = 0;
GLuint renderbuffers[3] = {};  // multisampled colour, multisampled depth-stencil, resolved colour
GLuint readbackBuffers[OffscreenReadbackDepth] = {};
int queuedFirst = 0;  // ring index of the oldest queued read-back
int queuedCount = 0;

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

bool LoadFramebufferFunctions() {
  return Load(gl.genFramebuffers, "glGenFramebuffers") &&
         Load(gl.deleteFramebuffers, "glDeleteFramebuffers") &&
         Load(gl.bindFramebuffer, "glBindFramebuffer") &&
         Load(gl.framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
         Load(gl.checkFramebufferStatus, "glCheckFramebufferStatus") &&
         Load(gl.genRenderbuffers, "glGenRenderbuffers") &&
         Load(gl.deleteRenderbuffers, "glDeleteRenderbuffers") &&
         Load(gl.bindRenderbuffer, "glBindRenderbuffer") &&
         Load(gl.renderbufferStorageMultisample, "glRenderbufferStorageMultisample") &&
         Load(gl.blitFramebuffer, "glBlitFramebuffer") && Load(gl.genBuffers, "glGenBuffers") &&
         Load(gl.deleteBuffers, "glDeleteBuffers") && Load(gl.bindBuffer, "glBindBuffer") &&
         Load(gl.bufferData, "glBufferData") && Load(gl.mapBufferRange, "glMapBufferRange") &&
         Load(gl.unmapBuffer, "glUnmapBuffer");
}

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
  if (!LoadFramebufferFunctions()) {
    error = "this OpenGL has no framebuffer objects";
    return false;
  }
  return true;
}

std::string SizeLimitError(int width, int height) {
  GLint renderbufferLimit = 0;
  GLint viewportLimit[2] = {0, 0};
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbufferLimit);
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewportLimit);
  const int maxWidth = std::min(renderbufferLimit, viewportLimit[0]);
  const int maxHeight = std::min(renderbufferLimit, viewportLimit[1]);
  if (width <= maxWidth && height <= maxHeight) return {};
  return "the size " + std::to_string(width) + "x" + std::to_string(height) +
         " is beyond this OpenGL's limit of " + std::to_string(maxWidth) + "x" +
         std::to_string(maxHeight);
}

bool CreateFramebuffers(int samples, std::string& error) {
  GLint maxSamples = 0;
  glGetIntegerv(GL_MAX_SAMPLES, &maxSamples);
  frameSamples = std::clamp(samples, 0, static_cast<int>(maxSamples));
  if (frameSamples < samples) {
    Say(Subsystem::Display, "%d samples per pixel not available offscreen, using %d",
        samples, frameSamples);
  }
  gl.genRenderbuffers(3, renderbuffers);
  const GLenum formats[3] = {GL_RGBA8, GL_DEPTH24_STENCIL8, GL_RGBA8};
  for (int i = 0; i < 3; ++i) {
    gl.bindRenderbuffer(GL_RENDERBUFFER, renderbuffers[i]);
    gl.renderbufferStorageMultisample(GL_RENDERBUFFER, i < 2 ? frameSamples : 0, formats[i],
                                      frameWidth, frameHeight);
  }
  gl.genFramebuffers(1, &drawFramebuffer);
  gl.bindFramebuffer(GL_FRAMEBUFFER, drawFramebuffer);
  gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers[0]);
  gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_STENCIL_ATTACHMENT, GL_RENDERBUFFER,
                             renderbuffers[1]);
  const GLenum drawStatus = gl.checkFramebufferStatus(GL_FRAMEBUFFER);
  gl.genFramebuffers(1, &resolveFramebuffer);
  gl.bindFramebuffer(GL_FRAMEBUFFER, resolveFramebuffer);
  gl.framebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, renderbuffers[2]);
  const GLenum resolveStatus = gl.checkFramebufferStatus(GL_FRAMEBUFFER);
  if (drawStatus != GL_FRAMEBUFFER_COMPLETE || resolveStatus != GL_FRAMEBUFFER_COMPLETE ||
      glGetError() != GL_NO_ERROR) {
    error = "no " + std::to_string(frameWidth) + "x" + std::to_string(frameHeight) +
            " framebuffer with " + std::to_string(frameSamples) + " samples (out of memory?)";
    return false;
  }

  const GLsizeiptr frameBytes = static_cast<GLsizeiptr>(frameWidth) * frameHeight * 4;
  gl.genBuffers(OffscreenReadbackDepth, readbackBuffers);
  for (GLuint buffer : readbackBuffers) {
    gl.bindBuffer(GL_PIXEL_PACK_BUFFER, buffer);
    gl.bufferData(GL_PIXEL_PACK_BUFFER, frameBytes, nullptr, GL_STREAM_READ);
  }
  gl.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  if (glGetError() != GL_NO_ERROR) {
    error = "no memory for reading frames back";
    return false;
  }
  gl.bindFramebuffer(GL_FRAMEBUFFER, drawFramebuffer);
  glViewport(0, 0, frameWidth, frameHeight);
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
  frameWidth = width;
  frameHeight = height;
  queuedFirst = queuedCount = 0;
  if (!CreateContext(error)) {
    CloseOffscreenGl();
    return false;
  }
  error = SizeLimitError(width, height);
  if (!error.empty() || !CreateFramebuffers(samples, error)) {
    CloseOffscreenGl();
    return false;
  }
  return true;
}

int OffscreenSampleCount() { return frameSamples; }

const char* OffscreenRenderer() {
  const GLubyte* renderer = context != EGL_NO_CONTEXT ? glGetString(GL_RENDERER) : nullptr;
  return renderer ? reinterpret_cast<const char*>(renderer) : "none";
}

void QueueOffscreenReadback() {
  if (context == EGL_NO_CONTEXT || queuedCount == OffscreenReadbackDepth) return;
  gl.bindFramebuffer(GL_READ_FRAMEBUFFER, drawFramebuffer);
  gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, resolveFramebuffer);
  gl.blitFramebuffer(0, 0, frameWidth, frameHeight, 0, 0, frameWidth, frameHeight,
                     GL_COLOR_BUFFER_BIT, GL_NEAREST);
  gl.bindFramebuffer(GL_READ_FRAMEBUFFER, resolveFramebuffer);
  const int slot = (queuedFirst + queuedCount) % OffscreenReadbackDepth;
  gl.bindBuffer(GL_PIXEL_PACK_BUFFER, readbackBuffers[slot]);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, frameWidth, frameHeight, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  gl.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  gl.bindFramebuffer(GL_FRAMEBUFFER, drawFramebuffer);
  ++queuedCount;
}

int QueuedOffscreenReadbacks() { return queuedCount; }

bool TakeOffscreenReadback(uint8_t* out) {
  if (context == EGL_NO_CONTEXT || queuedCount == 0) return false;
  const size_t frameBytes = static_cast<size_t>(frameWidth) * frameHeight * 4;
  gl.bindBuffer(GL_PIXEL_PACK_BUFFER, readbackBuffers[queuedFirst]);
  const void* pixels = gl.mapBufferRange(GL_PIXEL_PACK_BUFFER, 0, static_cast<GLsizeiptr>(frameBytes),
                                         GL_MAP_READ_BIT);
  const bool mapped = pixels != nullptr;
  if (mapped) {
    std::memcpy(out, pixels, frameBytes);
    gl.unmapBuffer(GL_PIXEL_PACK_BUFFER);
  }
  gl.bindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  queuedFirst = (queuedFirst + 1) % OffscreenReadbackDepth;
  --queuedCount;
  return mapped;
}

void CloseOffscreenGl() {
  if (context != EGL_NO_CONTEXT && gl.deleteFramebuffers) {
    gl.deleteBuffers(OffscreenReadbackDepth, readbackBuffers);
    gl.deleteFramebuffers(1, &drawFramebuffer);
    gl.deleteFramebuffers(1, &resolveFramebuffer);
    gl.deleteRenderbuffers(3, renderbuffers);
  }
  std::fill(std::begin(readbackBuffers), std::end(readbackBuffers), 0);
  std::fill(std::begin(renderbuffers), std::end(renderbuffers), 0);
  drawFramebuffer = resolveFramebuffer = 0;
  if (display != EGL_NO_DISPLAY) {
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (context != EGL_NO_CONTEXT) eglDestroyContext(display, context);
    eglTerminate(display);
  }
  context = EGL_NO_CONTEXT;
  display = EGL_NO_DISPLAY;
  gl = {};
  queuedFirst = queuedCount = frameSamples = 0;
}
