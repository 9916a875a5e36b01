// The studio's reading of the music: decoded by the platform's own decoder
// (the one video capture uses), summed up in blocks, then given to the beat
// finder that demotool beats uses.
#include "studio/MusicAnalysis.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <utility>

#include "platform/MusicProbe.h"
#include "platform/Process.h"

namespace {

// Frames decoded at a time: small enough that a cancel is seen at once.
constexpr long ChunkFrames = 4096;
// The summary stops here: a file that decodes to more is no show's music,
// and three hours still sum up in 33 MB.
constexpr double LongestSummarySeconds = 3 * 3600;

}  // namespace

void MusicPeakSummary::Add(const float* interleaved, std::size_t count, int channels) {
  if (channels <= 0) return;
  for (std::size_t f = 0; f < count; ++f) {
    float sum = 0.0f;
    for (int c = 0; c < channels; ++c) sum += interleaved[f * std::size_t(channels) + std::size_t(c)];
    const float mono = sum / float(channels);
    if (frames % MusicPeakBlockFrames == 0) {
      blocks.push_back({mono, mono});
    } else {
      MusicPeak& block = blocks.back();
      block.min = std::min(block.min, mono);
      block.max = std::max(block.max, mono);
    }
    ++frames;
  }
}

std::vector<MusicPeak> PeaksBetween(const MusicPeakSummary& summary, double from, double to, int columns) {
  std::vector<MusicPeak> peaks(std::size_t(std::max(columns, 0)));
  if (summary.rate <= 0 || summary.blocks.empty() || !(to > from)) return peaks;
  const double blocksPerSecond = double(summary.rate) / double(MusicPeakBlockFrames);
  const double count = double(summary.blocks.size());
  // Block indices are worked out in doubles and clamped before they become
  // integers, so that no time, however far out, overflows a conversion; the
  // columns' edges are interpolated, since to - from may exceed a double.
  const auto clamp = [&](double block) { return std::clamp(block, 0.0, count); };
  const auto edge = [&](int column) { return std::lerp(from, to, double(column) / double(columns)); };
  for (int i = 0; i < columns; ++i) {
    const double start = edge(i) * blocksPerSecond;
    const double end = edge(i + 1) * blocksPerSecond;
    double first = std::floor(start);
    double last = std::max(std::ceil(end), first + 1.0);  // a column narrower than a block shows the block
    first = clamp(first);
    last = clamp(last);
    if (!(last > first)) continue;
    MusicPeak peak = summary.blocks[std::size_t(first)];
    for (std::size_t b = std::size_t(first) + 1; b < std::size_t(last); ++b) {
      peak.min = std::min(peak.min, summary.blocks[b].min);
      peak.max = std::max(peak.max, summary.blocks[b].max);
    }
    peaks[std::size_t(i)] = peak;
  }
  return peaks;
}

MusicAnalysis::~MusicAnalysis() {
  cancel_ = true;
  if (thread_.joinable()) thread_.join();
}

void MusicAnalysis::Start(std::string path) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable() || findings_.peaksStep != MusicStep::NotAsked) return;
    findings_.peaksStep = MusicStep::Working;
    findings_.beatsStep = MusicStep::Working;
  }
  thread_ = std::thread([this, path = std::move(path)] {
    YieldThreadToForeground();
    // Only memory running out throws here; the show goes on without the
    // music's findings rather than ending.
    try {
      Read(path);
    } catch (const std::exception& e) {
      const std::string why = std::string("the music could not be read: ") + e.what();
      std::lock_guard<std::mutex> lock(mutex_);
      // What was done stays done: the waveform outlives a beat finder that ran out.
      if (findings_.peaksStep == MusicStep::Working) {
        findings_.peaksStep = MusicStep::Failed;
        findings_.peaksWhy = why;
      }
      if (findings_.beatsStep == MusicStep::Working) {
        findings_.beatsStep = MusicStep::Failed;
        findings_.beatsWhy = why;
      }
    }
  });
}

MusicFindings MusicAnalysis::Findings() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return findings_;
}

void MusicAnalysis::Publish(const MusicFindings& findings) {
  std::lock_guard<std::mutex> lock(mutex_);
  findings_ = findings;
}

void MusicAnalysis::Read(const std::string& path) {
  MusicFindings findings;
  MusicFileInfo info;
  std::string why;
  MusicDecoder* decoder = OpenMusicDecoder(path.c_str(), info, why);
  if (!decoder || info.rate <= 0 || info.channels <= 0) {
    CloseMusicDecoder(decoder);
    findings.peaksStep = findings.beatsStep = MusicStep::Failed;
    findings.peaksWhy = findings.beatsWhy = "the music cannot be decoded: " + (why.empty() ? "no samples" : why);
    Publish(findings);
    return;
  }

  auto summary = std::make_shared<MusicPeakSummary>();
  summary->rate = info.rate;
  const std::size_t mostFrames = std::size_t(LongestSummarySeconds * double(info.rate));
  const std::size_t mostBeatFrames = std::size_t(LongestBeatsMusicSeconds * double(info.rate));
  // The mono mix again, whole, for the beat finder; kept only where the
  // build has one.
  bool keepMono = BeatDetectionInThisBuild();
  std::vector<float> mono;
  std::vector<float> chunk(std::size_t(ChunkFrames) * std::size_t(info.channels));
  // A damaged frame ends decoding early: the waveform then shows what
  // decoded, as the audio service plays it.
  for (long got = ChunkFrames; got == ChunkFrames && summary->frames < mostFrames;) {
    if (cancel_) {
      CloseMusicDecoder(decoder);
      return;
    }
    got = ReadMusicSamples(decoder, chunk.data(), ChunkFrames);
    if (got <= 0) break;
    summary->Add(chunk.data(), std::size_t(got), info.channels);
    if (keepMono && summary->frames > mostBeatFrames) {
      keepMono = false;
      std::vector<float>().swap(mono);
    }
    if (keepMono) {
      for (std::size_t f = 0; f < std::size_t(got); ++f) {
        float sum = 0.0f;
        for (int c = 0; c < info.channels; ++c) sum += chunk[f * std::size_t(info.channels) + std::size_t(c)];
        mono.push_back(sum / float(info.channels));
      }
    }
  }
  CloseMusicDecoder(decoder);

  if (summary->frames == 0) {
    findings.peaksStep = findings.beatsStep = MusicStep::Failed;
    findings.peaksWhy = findings.beatsWhy = "the music decodes to no samples";
    Publish(findings);
    return;
  }
  findings.peaksStep = MusicStep::Done;
  findings.peaks = std::move(summary);
  findings.beatsStep = MusicStep::Working;
  if (!BeatDetectionInThisBuild()) {
    // The refusing detector gives the reason in words.
    MusicOnsets none;
    DetectOnsets(nullptr, 0, info.rate, none, findings.beatsWhy);
    findings.beatsStep = MusicStep::Failed;
  } else if (!keepMono) {
    findings.beatsStep = MusicStep::Failed;
    findings.beatsWhy = "the music is longer than " + std::to_string(int(LongestBeatsMusicSeconds / 60)) +
                        " minutes; its beats are not looked for";
  }
  Publish(findings);
  if (findings.beatsStep != MusicStep::Working) return;

  std::string beatsWhy;
  BeatGrid grid;
  const bool found = FindBeats(mono.data(), mono.size(), info.rate, grid, beatsWhy, &cancel_);
  if (cancel_) return;
  findings.beatsStep = found ? MusicStep::Done : MusicStep::Failed;
  findings.grid = grid;
  findings.beatsWhy = found ? std::string() : "no beat found in the music: " + beatsWhy;
  Publish(findings);
}
