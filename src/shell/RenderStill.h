// One frame of the show written as a PNG file, drawn offscreen.
#pragma once

struct DemoOptions;

// Draws the frame at options.renderRow with the image planes as a viewer at
// options.framesPerSecond would see them, at options.size, and writes it to
// options.outputFile; the same options always write the same bytes. Returns
// the process exit code: 0 when written, 1 with one line on stderr when it
// cannot be (no file is left behind then).
int RenderStill(const DemoOptions& options);
