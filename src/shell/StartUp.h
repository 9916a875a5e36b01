// Start-up: everything the demo frames need, with the loading screen on show
// while it happens; then the music starts.
#pragma once

// Builds the font, generates the texture names, switches on texturing and
// blending, loads the seven images in slot order (a loading frame with one
// more dot before each), opens the music and the tracks and starts playback.
// The messages that arrive meanwhile are handled after each loading frame and
// each image: a quit among them ends the start-up at once and InitDemo returns
// false, with neither music nor tracks opened.
struct ShowStart {
  double fromRow = 0.0;         // where the music starts
  bool readTrackFiles = true;   // false: the tracks are registered empty
};
bool InitDemo(const ShowStart& start = {});

// The start-up of stills and captures: InitDemo's font, textures, blend state,
// images and tracks in the same order, but no loading frame is drawn and no
// music is opened or played. readTrackFiles false registers the tracks empty.
void InitShowOffscreen(bool readTrackFiles = true);

// Draws and presents one loading frame with text centred (none when null).
void DrawLoadingFrame(const char* text);
