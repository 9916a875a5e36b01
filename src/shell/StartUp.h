// Start-up: everything the demo frames need, then the music starts.
#pragma once

// Builds the font, generates the texture names, switches on texturing and
// blending, opens the music and the tracks and starts playback.
void InitDemo();
// Draws and presents one loading frame with text centred (none when null).
void DrawLoadingFrame(const char* text);
