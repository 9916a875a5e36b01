// The show drawn offscreen frame by frame and encoded with its music into a
// video file.
#pragma once

#include <cstdint>
#include <optional>

struct DemoOptions;

// The frames a capture holds: from its first row on, one per 1/fps seconds,
// up to the first of the end row (exclusive), the end of the music (rows at
// or past musicRows, when not negative) and the frame whose control code is
// 777. Counts no further than limit frames; a run that reaches it has no end
// of its own.
int64_t CountCaptureFrames(double startRow, std::optional<double> endRow, double musicRows, int fps,
                           int64_t limit);

// Captures the show from options.fromRow (or the start) to options.toRow (or
// the end) into options.outputFile (.mkv: Matroska; anything else: MP4) at
// options.size and options.framesPerSecond, with a progress bar on stderr. SIGINT and
// SIGTERM end it early with a complete file of what was rendered; so do
// SIGHUP (the terminal closed) and a stderr whose reader has gone, but they
// fail the run. Returns the process exit code: 0 when the file is written as
// asked, 1 with one line on stderr otherwise (where stderr can still be
// written): after a failure no file is left behind, after those two ends the
// file of what was rendered is.
int CaptureVideo(const DemoOptions& options);

// TESTING ONLY: while set, the capture's picture buffers cannot be allocated,
// as on a machine short of memory at a large --size.
void SetCapturePicturesFailForTesting(bool fail);
