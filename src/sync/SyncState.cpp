// Process-wide state of the sync subsystem: the track registry, the path
// builder's buffer, the music stream handle and the fourteen tracks the frame
// routine evaluates. All of it is set at start-up and lives until exit.
#include "sync/SyncState.h"

#include <cstdint>

#include "sync/MusicClock.h"
#include "sync/Tracks.h"

TrackSet* ActiveTrackSet = nullptr;
char TrackPathBuffer[TrackPathCapacity] = {};

uint32_t MusicStream = 0;

Track* BackN = nullptr;
Track* BackX = nullptr;
Track* BackY = nullptr;
Track* BackR = nullptr;
Track* BackG = nullptr;
Track* BackB = nullptr;
Track* BackScale = nullptr;
Track* BackRotX = nullptr;
Track* BackRotY = nullptr;
Track* BackRotZ = nullptr;
Track* ScrollX = nullptr;
Track* ScrollY = nullptr;
Track* ScrollR = nullptr;
Track* Control = nullptr;
