// The show drawn offscreen at a fixed frame rate, for stills and video
// capture. The clock is a frame counter, not the music: frame k of a run
// that starts at row r0 is drawn at row r0 + k * 20 / fps, so every picture
// is the same however fast or slow the machine draws it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/Messages.h"

struct TrackSource;

inline constexpr int OffscreenSamplesWanted = 4;

// The row of frame k of a run at fps frames per second that starts at
// startRow. Whole frames from row 0 land exactly on the rows a 20-row second
// divides into (frame 3 at 60 fps is row 1.0, not 0.99999...).
double OffscreenFrameRow(double startRow, int64_t frame, int fps);

// Opens a width x height offscreen context with OffscreenSamplesWanted samples,
// sets the projection (letterboxed as on a desktop of that size) and the
// fixed GL state, and runs the show's start-up without loading frames or
// sound. False, with the reason on stderr under the mode's subsystem, when no
// context of that size can be had. With trackText the tracks are those
// compiled sources (CompileTrackTextFile) and no track file is read.
bool OpenOffscreenShow(int width, int height, Subsystem subsystem,
                       const std::vector<TrackSource>* trackText = nullptr);

// Puts the image planes where a viewer who watched from the start at fps
// frames per second would find them just before the frame at row: their fade
// factors and, once plane A has been drawn, the depth test switched off.
// False when the show ended (control 777) in one of those frames.
bool CatchUpWithViewer(double row, int fps);

// Draws the frame at row into the offscreen framebuffer. False, with nothing
// drawn, when the control code there ends the show.
bool DrawOffscreenFrame(double row);

// True when the frame at row is the show's end (control 777).
bool ShowEndsAt(double row);
