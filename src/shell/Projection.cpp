#include "shell/Projection.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include "platform/Display.h"

ViewportFit FitViewport(int width, int height) {
  const float aspect = static_cast<float>(static_cast<double>(width) / height);
  // Desktops within [1.77, 1.78) count as 16:9 and use their own ratio; the
  // bounds are compared as the single-precision values of those decimals.
  if (aspect >= 1.77f && aspect < 1.78f) return {0, 0, width, height, aspect};
  // Everything else gets a band of 1000/1777 of the width, centred vertically:
  // bars on narrower desktops, cropped top and bottom on wider ones.
  // The product is formed in 64 bits so that no width overflows it; for every
  // real desktop the result is the 32-bit one.
  const int bandHeight = static_cast<int>((static_cast<long long>(width) * 1000) / 1777);
  const int bandY = (height - bandHeight) / 2;
  return {0, bandY, width, bandHeight, 1.77777f};
}

void SetupProjection(const DesktopMode& mode) {
  const ViewportFit fit = FitViewport(mode.width, mode.height);
  glViewport(fit.x, fit.y, fit.width, fit.height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  gluPerspective(45.0, fit.aspect, 0.1f, 100.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
}
