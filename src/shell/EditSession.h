// Working on a show: the tracks come from a text file that is compiled at the
// start and again whenever it is saved, the keyboard moves about in the music,
// and a status line says where the show stands.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// Whether the track text can be read at all; false with the reason on stderr.
// Checked before any window opens, so that a mistyped name costs nothing.
bool CheckEditFile(const std::string& path);

// The studio beside the edit mode: a page in the browser that edits FILE
// through the demo (src/studio, docs/studio-api.md).
struct StudioOptions {
  std::optional<int> port;  // --port N; a free port when not given
  bool open = false;        // --open: the address in the default browser
};

// Starts the studio's server for FILE, before the window opens, and says
// once on stderr where it is: "demo: studio: http://127.0.0.1:PORT/#token=T".
// Requests wait (and get 503 after a few seconds) until BeginEditSession.
// A server that cannot start is said on stderr; false only when the port
// was asked for, which the run must then not go on without.
bool OpenStudio(const std::string& path, const StudioOptions& options);
// Answers what still waits, closes every connection and ends the server's
// thread; nothing when no studio is open.
void CloseStudio();

// Starts the session once the start-up has registered the tracks (without
// keys) and the music plays: compiles the file, swaps its tracks in and puts
// the planes' fades where a viewer would have them. A file with errors starts
// the show without tracks and says what is wrong until a good save.
// width x height is the drawable surface, for the status line.
void BeginEditSession(const std::string& path, int width, int height);

// Looks at the file (at most every 10 ms by the session's clock) and takes in
// a save's tracks; EditFrame does this first, then looks at the show's
// pictures (at most every 250 ms) and loads again one whose file changed.
void LookAtEditFile();

// The clock the watching goes by: std::chrono::steady_clock's unless a test
// sets its own (null sets the steady clock back).
using EditClock = std::chrono::steady_clock::time_point (*)();
void SetEditSessionClock(EditClock clock);

// One frame of the edit mode: takes a saved file's new tracks, draws the show
// and the status line and presents them. The end code holds the music at the
// end instead of ending the run, so that one can go back. Always true.
bool EditFrame();

// The edit mode's keys: Space pauses and resumes, Left and Right seek one
// second, Up and Down ten, Home returns to the start. False for other keys.
bool EditKey(int key);

// What the status line says.
struct EditStatus {
  double seconds = 0.0;
  double row = 0.0;
  int32_t code = 0;         // the control code in force
  bool paused = false;
  bool ended = false;       // held at the end code
  double framesPerSecond = 0.0;
};
std::string FormatEditStatus(const EditStatus& status);
