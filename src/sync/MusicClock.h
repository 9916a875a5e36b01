// Music stream and clock: the music's play position is the demo's timeline,
// 20 rows per second of music.
#pragma once

#include <cstdint>

struct Track;

inline constexpr double RowsPerSecond = 20.0;

// The stream handle of the one music stream (0 until InitMusicAndTracks).
extern uint32_t MusicStream;

// The fourteen tracks, requested in this order by InitMusicAndTracks.
extern Track* BackN;
extern Track* BackX;
extern Track* BackY;
extern Track* BackR;
extern Track* BackG;
extern Track* BackB;
extern Track* BackScale;
extern Track* BackRotX;
extern Track* BackRotY;
extern Track* BackRotZ;
extern Track* ScrollX;
extern Track* ScrollY;
extern Track* ScrollR;
extern Track* Control;

// Opens the audio output and "res/Quelf - Tavoy Rip.mp3", creates the "sync"
// registry and requests the fourteen tracks.
void InitMusicAndTracks();
// Starts the output and the playback of MusicStream from its beginning, or
// from fromRow when the show is to start part-way.
void StartMusicPlayback(double fromRow = 0.0);
// The current position of the music in rows: seconds heard x RowsPerSecond.
double CurrentRow();
