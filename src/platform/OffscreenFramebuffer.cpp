// Offscreen framebuffer shared by the EGL and WGL backends.
//
// Frames draw into a multisampled renderbuffer pair (colour, depth-stencil);
// each read-back blits it into a single-sample colour renderbuffer and reads
// that into a pixel buffer object of a ring of OffscreenReadbackDepth, so a
// GPU can copy one frame while the next is drawn. Nothing waits for a
// read-back until its frame is taken.
//
// A GL without framebuffer objects (before 3.0 and without the ARB extension)
// is refused: there would be nowhere to draw.
#include "platform/OffscreenFramebuffer.h"

#ifdef _WIN32
#include <windows.h>  // APIENTRY and WINGDIAPI, which the GL headers expect
#endif
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/Messages.h"
#include "platform/OffscreenGl.h"

namespace {

// The GL 3.0 entry points the framebuffer and the read-back ring need; the
// systems' GL headers and libraries offer only 1.x functions as symbols.
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
bool open = false;
int frameWidth = 0;
int frameHeight = 0;
int frameSamples = 0;
GLuint drawFramebuffer = 0;
GLuint resolveFramebuffer = 0;
GLuint renderbuffers[3] = {};  // multisampled colour, multisampled depth-stencil, resolved colour
GLuint readbackBuffers[OffscreenReadbackDepth] = {};
int queuedFirst = 0;  // ring index of the oldest queued read-back
int queuedCount = 0;

template <typename T>
bool Load(GlProcLookup lookup, T& function, const char* name) {
  function = reinterpret_cast<T>(lookup(name));
  return function != nullptr;
}

bool LoadFramebufferFunctions(GlProcLookup l) {
  return Load(l, gl.genFramebuffers, "glGenFramebuffers") &&
         Load(l, gl.deleteFramebuffers, "glDeleteFramebuffers") &&
         Load(l, gl.bindFramebuffer, "glBindFramebuffer") &&
         Load(l, gl.framebufferRenderbuffer, "glFramebufferRenderbuffer") &&
         Load(l, gl.checkFramebufferStatus, "glCheckFramebufferStatus") &&
         Load(l, gl.genRenderbuffers, "glGenRenderbuffers") &&
         Load(l, gl.deleteRenderbuffers, "glDeleteRenderbuffers") &&
         Load(l, gl.bindRenderbuffer, "glBindRenderbuffer") &&
         Load(l, gl.renderbufferStorageMultisample, "glRenderbufferStorageMultisample") &&
         Load(l, gl.blitFramebuffer, "glBlitFramebuffer") && Load(l, gl.genBuffers, "glGenBuffers") &&
         Load(l, gl.deleteBuffers, "glDeleteBuffers") && Load(l, gl.bindBuffer, "glBindBuffer") &&
         Load(l, gl.bufferData, "glBufferData") && Load(l, gl.mapBufferRange, "glMapBufferRange") &&
         Load(l, gl.unmapBuffer, "glUnmapBuffer");
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

bool OpenOffscreenFramebuffer(GlProcLookup lookup, int width, int height, int samples,
                              std::string& error) {
  frameWidth = width;
  frameHeight = height;
  queuedFirst = queuedCount = 0;
  if (!LoadFramebufferFunctions(lookup)) {
    gl = {};
    error = "this OpenGL has no framebuffer objects";
    return false;
  }
  open = true;
  error = SizeLimitError(width, height);
  return error.empty() && CreateFramebuffers(samples, error);
}

void CloseOffscreenFramebuffer() {
  if (open) {
    gl.deleteBuffers(OffscreenReadbackDepth, readbackBuffers);
    gl.deleteFramebuffers(1, &drawFramebuffer);
    gl.deleteFramebuffers(1, &resolveFramebuffer);
    gl.deleteRenderbuffers(3, renderbuffers);
  }
  std::fill(std::begin(readbackBuffers), std::end(readbackBuffers), 0);
  std::fill(std::begin(renderbuffers), std::end(renderbuffers), 0);
  drawFramebuffer = resolveFramebuffer = 0;
  gl = {};
  open = false;
  queuedFirst = queuedCount = frameSamples = 0;
}

int OffscreenSampleCount() { return frameSamples; }

void QueueOffscreenReadback() {
  if (!open || queuedCount == OffscreenReadbackDepth) return;
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
  if (!open || queuedCount == 0) return false;
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
