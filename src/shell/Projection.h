// Viewport and projection: the picture is 16:9, letterboxed (or cropped) to a
// 16:9 band across the full width on desktops of another shape.
#pragma once

struct DesktopMode;

struct ViewportFit {
  int x, y, width, height;
  float aspect;  // the aspect handed to the perspective projection
};

// The viewport and aspect for a desktop of width x height. Pure arithmetic, in
// the single precision and integer divisions the picture's framing depends on.
ViewportFit FitViewport(int width, int height);

// Sets the viewport and a 45 degree perspective (near 0.1, far 100) from the
// desktop mode, leaving an identity modelview matrix selected.
void SetupProjection(const DesktopMode& mode);
