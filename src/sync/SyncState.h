// Process-wide state of the sync subsystem, shared by its routines. Everything
// here lives in SyncState.cpp and for the whole run.
#pragma once

#include <cstddef>

struct TrackSet;

// The one registry GetTrack uses; set by CreateTrackSet.
extern TrackSet* ActiveTrackSet;

// The path builder's buffer, reused by every TrackFilePath call.
inline constexpr std::size_t TrackPathCapacity = 260;
extern char TrackPathBuffer[TrackPathCapacity];
