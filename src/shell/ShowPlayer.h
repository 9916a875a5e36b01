// The player core beneath every mode (play, edit, still, capture): the GL
// state every frame relies on, the control track, the planes' fades at a row,
// where the music ends and the row and time conversions of the messages. It
// reaches no other file of the shell, so that every mode can build on it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/Messages.h"
#include "render/PlaneMath.h"

struct Track;
struct TrackSource;

// The GL state every frame relies on, set once after the projection.
void SetFixedGlState();

// The show's control track (null before the tracks are requested).
const Track* ShowControlTrack();

// The frame rate a viewer's fades are replayed at after the timeline jumps in
// a window: the display's refresh rate, 60 when the system does not say.
double ViewerFrameRate();

// Puts the planes' fades where a viewer who had watched the show from its
// start at framesPerSecond would have them at row, and returns them.
PlaneFades SetViewerFadesAt(double row, double framesPerSecond);
// The same at ViewerFrameRate(), for the window's modes.
void JumpPlaneFadesTo(double row);

// The row at which the show's music ends (MusicFileEndRow). Every mode
// measures the end this one way. Nothing without music to measure: the clock
// then runs on.
std::optional<double> MusicEndRow();

// "m:ss.ff" of a row, for messages.
std::string RowAsTime(double row);

// "TIME is past the end of the music (END)", the words every mode refuses a
// row past MusicEndRow with.
std::string PastMusicEnd(double row, double endRow);

// Track text, read whole; false with the reason in a few words (missing, a
// folder, too large to be track text).
bool ReadTrackTextFile(const std::string& path, std::string& text, std::string& why);

// Compiles the track text of path once, for the modes that take it instead of
// the track files (--tracks). Errors, and the names of tracks the show does not
// have, go to stderr as "path:LINE: message", the form --edit and editors use;
// a file that cannot be read is said under subsystem. False when the text
// cannot be read or has errors: the run must not go on with other tracks than
// the ones asked for.
bool CompileTrackTextFile(const std::string& path, Subsystem subsystem, std::vector<TrackSource>& sources);
