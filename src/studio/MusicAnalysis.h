// The music as the studio shows it: a compact summary of its waveform and
// the beat grid found in it, both made once on a thread of their own.
//
// Decoding a show's music takes a fraction of a second and finding its beats
// a second or more, far longer than a frame or than a request should wait, so
// neither the frame loop nor the network thread ever does it: the network
// thread reads what is done so far (Findings) and answers "still reading"
// until then. The summary keeps the lowest and highest sample of every short
// block of the mono mix, so that any stretch at any width is answered from
// it without the samples, which are freed once the beats are found.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "beats/Beats.h"

// Frames per block of the summary: 2.9 ms at 44.1 kHz, finer than a pixel
// column of any view longer than a few seconds, and three minutes of music
// sum up in half a megabyte.
inline constexpr std::size_t MusicPeakBlockFrames = 128;

struct MusicPeak {
  float min = 0.0f;
  float max = 0.0f;
};

// The lowest and highest sample of the mono mix in each block of
// MusicPeakBlockFrames frames (the last block may be shorter).
struct MusicPeakSummary {
  long rate = 0;
  std::size_t frames = 0;
  std::vector<MusicPeak> blocks;

  // Appends frames of interleaved samples; the mono mix is their mean.
  void Add(const float* interleaved, std::size_t count, int channels);
};

// The peaks of `columns` equal stretches of the music from `from` to `to`
// seconds (from < to, columns >= 1): each column the lowest and highest of
// the blocks it overlaps, at least the one it falls in; a column before the
// start or past the end of the music is silence, {0, 0}. The work is bounded
// by the blocks and the columns, whatever the times.
std::vector<MusicPeak> PeaksBetween(const MusicPeakSummary& summary, double from, double to, int columns);

// Where each of the two findings stands.
enum class MusicStep {
  NotAsked,  // nobody asked this analysis to read any music
  Working,
  Done,
  Failed,  // the reason in the matching ...Why
};

struct MusicFindings {
  MusicStep peaksStep = MusicStep::NotAsked;
  std::shared_ptr<const MusicPeakSummary> peaks;  // once Done
  std::string peaksWhy;
  MusicStep beatsStep = MusicStep::NotAsked;
  BeatGrid grid;  // once Done
  std::string beatsWhy;
};

// Music longer than this has its waveform but no beats found: its samples
// would take more memory than the demo should (twenty minutes of mono float
// are 212 MB at 44.1 kHz), and no show's music is that long.
inline constexpr double LongestBeatsMusicSeconds = 20 * 60;

class MusicAnalysis {
 public:
  MusicAnalysis() = default;
  // Findings already made: for tests of what is answered from them.
  explicit MusicAnalysis(MusicFindings findings) : findings_(std::move(findings)) {}
  // Cancels a reading still under way and waits for its thread, which stops
  // within a block of decoding or a hop of the beat finder.
  ~MusicAnalysis();
  MusicAnalysis(const MusicAnalysis&) = delete;
  MusicAnalysis& operator=(const MusicAnalysis&) = delete;

  // Starts reading the music file at path (the demo's own path strings) on a
  // thread of its own: the summary first, then the beats where the build can
  // find them. Only the first call reads; later ones do nothing.
  void Start(std::string path);
  // What is done so far, copied under a lock held only for the copy.
  MusicFindings Findings() const;

 private:
  void Read(const std::string& path);
  void Publish(const MusicFindings& findings);

  mutable std::mutex mutex_;
  MusicFindings findings_;
  std::atomic<bool> cancel_{false};
  std::thread thread_;
};
