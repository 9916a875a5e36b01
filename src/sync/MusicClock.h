// Music stream and clock: the music's play position is the demo's timeline,
// 20 rows per second of music.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "show/ShowTable.h"

struct Track;

inline constexpr double RowsPerSecond = 20.0;

// The stream handle of the one music stream (0 until InitMusicAndTracks).
extern uint32_t MusicStream;

// The show's frame tracks, entry i being the track FrameTracks[i] names; set by
// InitMusicAndTracks and kept for the whole run.
extern Track* FrameTrackHandles[FrameTrackCount];

// The show's music file, inside the show's folder (CurrentShowFolder).
std::string ShowMusicPath();

// The row at which the music file at path ends, from its frame headers
// (milliseconds where decoding takes a tenth of a second; it counts the
// decoder's padding too, so it never refuses a row the music reaches). The
// demo and demotool check both measure the music this one way, so that every
// place that names its length agrees. Nothing when the file holds no music.
std::optional<double> MusicFileEndRow(const std::string& path);

// Opens the audio output and the show's music, then RequestShowTracks.
void InitMusicAndTracks(bool readTrackFiles = true);
// Creates the "sync" registry and requests the frame tracks in the show
// table's order, with no sound (what stills and captures need). Without
// readTrackFiles the tracks are registered without keys, for tracks that come
// from elsewhere.
void RequestShowTracks(bool readTrackFiles = true);
// Starts the output and the playback of MusicStream from its beginning, or
// from fromRow when the show is to start part-way.
void StartMusicPlayback(double fromRow = 0.0);
// The current position of the music in rows: seconds heard x RowsPerSecond.
double CurrentRow();
