// Tempo and beat grid of a piece of music, for demotool beats and the
// studio's GET /api/beats.
//
// The grid has to hold to the last bar: a tempo 0.01 BPM off at 120 is 11 ms
// late after three minutes, but aubio's own estimate of the bundled music,
// 122.5 BPM for 120, is 2.6 s late by its end, and its beat tracker follows
// the music bar by bar with tens of milliseconds of scatter. Its onsets are
// placed within a few milliseconds, though. So the onsets are found by aubio
// (BeatsAubio.cpp) and the grid is fitted to all of them at once
// (BeatsGrid.cpp): the tempo whose beat and subdivisions the onsets keep to
// best over the whole piece, then the phase.
#pragma once

#include <atomic>
#include <cstddef>
#include <string>
#include <vector>

struct Onset {
  double seconds = 0.0;
  double strength = 1.0;  // the detector's level at the attack; weights the fit
};

struct MusicOnsets {
  // Attacks placed as precisely as the detector can: they give the tempo and
  // where the beats fall to the millisecond.
  std::vector<Onset> onsets;
  // Attacks weighted by their energy, which the kick and the bass dominate:
  // they tell the beat from the off-beat, where hats and arpeggios would
  // give both the same weight.
  std::vector<Onset> accents;
  double trackerBpm = 0.0;  // the beat tracker's own tempo, 0 when it found none
};

// Whether this build has a detector (aubio): without one DetectOnsets and
// FindBeats refuse every piece, so a caller need not keep the samples.
bool BeatDetectionInThisBuild();

// The backend: aubio's onset detectors and beat tracker over mono samples.
// False with the reason in error where the build has no detector (Windows),
// or as soon as *cancel turns true (the demo ending mid-analysis need not
// wait for a second of it).
bool DetectOnsets(const float* mono, std::size_t count, long rate, MusicOnsets& found, std::string& error,
                  const std::atomic<bool>* cancel = nullptr);

// Beats from firstBeat every 60 / bpm seconds.
struct BeatGrid {
  double bpm = 0.0;
  double firstBeat = 0.0;  // seconds, in [0, 60 / bpm): the earliest beat at or after the start
  double agreement = 0.0;  // 0..1: how closely the onsets keep to the grid's subdivision
};

// The grid the onsets keep to best: the tempo searched near the tracker's
// (its octave taken into 60..200 BPM), or over all of 60..200 BPM when the
// tracker found none, then the phase. False with the reason when the onsets
// are too few to show a beat.
bool FitBeatGrid(const MusicOnsets& found, BeatGrid& grid, std::string& error);

// DetectOnsets then FitBeatGrid: the analysis as the command runs it.
bool FindBeats(const float* mono, std::size_t count, long rate, BeatGrid& grid, std::string& error,
               const std::atomic<bool>* cancel = nullptr);

// The beat times of the grid before endSeconds.
std::vector<double> BeatTimes(const BeatGrid& grid, double endSeconds);

// Track text with its tempo line set: the first "tempo" line replaced by
// tempoLine, any later ones dropped, or tempoLine added after the comments
// that open the text (at the top when there are none). Every other line is
// kept byte for byte; the new line ends as the text's lines do (CRLF or LF).
std::string SetTempoLine(const std::string& text, const std::string& tempoLine);
