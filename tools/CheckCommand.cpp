// demotool check: reads a show folder the way the demo will and reports, file
// by file, whether it will play as meant.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Commands.h"
#include "FileBytes.h"
#include "image/SystemImage.h"
#include "image/TextureMath.h"
#include "platform/MusicProbe.h"
#include "png/PngDecoder.h"
#include "show/ShowTable.h"
#include "sync/MusicClock.h"
#include "sync/TrackFile.h"
#include "sync/Tracks.h"

namespace {

struct Report {
  int problems = 0;
  void Line(const std::string& item, bool ok, const std::string& detail) {
    std::printf("%-26s %-7s %s\n", item.c_str(), ok ? "ok" : "PROBLEM", detail.c_str());
    if (!ok) ++problems;
  }
};

// gnu_printf: the Windows build prints through MinGW's C99 printf, which
// knows %zu; plain printf there would mean the system's older dialect.
std::string Format(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// The demo asks the system picture loader first and takes our PNG decoder for
// whatever it refuses; the check takes the same turns.
void CheckImage(Report& report, const std::string& dir, const char* name) {
  const std::string path = dir + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    report.Line(name, false, "missing");
    return;
  }
  std::fclose(file);

  SystemImage image;
  LoadSystemImage(path.c_str(), image);
  if (image.picture) {
    report.Line(name, true,
                Format("system route, %dx%d picture drawn into a square texture",
                       PictureWidth(image.picture), PictureHeight(image.picture)));
    ReleaseSystemImage(image);
    return;
  }
  ReleaseSystemImage(image);

  std::vector<unsigned char> bytes;
  if (!ReadInputFile("check", path.c_str(), bytes)) {
    report.Line(name, false, "unreadable");
    return;
  }
  std::vector<unsigned char> rgba;
  PngState state;
  decodeImage(rgba, state, bytes.empty() ? nullptr : bytes.data(), bytes.size());
  if (state.error != 0) {
    report.Line(name, false,
                Format("PNG route: our decoder refuses it with error %d (the slot stays empty)", state.error));
    return;
  }
  const uint64_t w2 = PowerOfTwoAtLeast(state.width), h2 = PowerOfTwoAtLeast(state.height);
  if (PaddedTextureBytes(w2, h2) == 0) {
    report.Line(name, false, Format("PNG route: %ux%u is too large to upload", state.width, state.height));
    return;
  }
  report.Line(name, true,
              Format("PNG route, %ux%u RGBA scaled to %llux%llu", state.width, state.height,
                     static_cast<unsigned long long>(w2), static_cast<unsigned long long>(h2)));
}

// Loads and checks one track file; keys go to out when the demo would load them.
void CheckTrack(Report& report, const std::string& dir, const char* track, std::vector<TrackKey>& out) {
  const std::string file = TrackFileName(track);
  std::vector<uint8_t> bytes;
  if (!ReadWholeTrackFile((dir + "/" + file).c_str(), bytes)) {
    report.Line(file, false, "missing (the track would be 0 throughout)");
    return;
  }
  const TrackFileScan scan = ScanTrackBytes(bytes.data(), bytes.size());
  if (!scan.refused) out = scan.keys;
  if (!scan.findings.empty()) {
    for (const TrackFileFinding& finding : scan.findings) {
      report.Line(file, false,
                  finding.keyIndex >= 0 ? Format("key %d: %s", finding.keyIndex, finding.message.c_str())
                                        : finding.message);
    }
    return;
  }
  if (scan.keys.empty()) {
    report.Line(file, true, "no keys (0 everywhere)");
    return;
  }
  report.Line(file, true,
              Format("%zu key(s), rows %d to %d", scan.keys.size(), scan.keys.front().row, scan.keys.back().row));
}

// The first row at which the control code ends the show, looked for at a twentieth
// of a row (a frame at 1000 Hz) up to endRow; a negative result when never.
double FirstEndRow(const std::vector<TrackKey>& keys, double endRow) {
  if (keys.empty()) return -1.0;
  Track control{nullptr, const_cast<TrackKey*>(keys.data()), static_cast<int32_t>(keys.size())};
  const double step = 1.0 / 20.0;
  for (double row = 0.0; row <= endRow + step / 2; row += step) {
    const double at = std::min(row, endRow);
    if (TruncateTrackValue(TrackValue(&control, at)) == EndOfShowCode) return at;
  }
  return -1.0;
}

}  // namespace

int RunCheckCommand(int argc, char** argv) {
  if (argc > 1 || (argc == 1 && (!std::strcmp(argv[0], "--help") || !std::strcmp(argv[0], "-h")))) {
    std::fputs("usage: demotool check [RESDIR]   (default res)\n", argc > 1 ? stderr : stdout);
    return argc > 1 ? 2 : 0;
  }
  const std::string dir = argc == 1 ? argv[0] : ShowFolder;
  std::FILE* probe = std::fopen((dir + "/.").c_str(), "r");
  if (!probe) {
    std::fprintf(stderr, "demotool: check: cannot open the folder '%s'\n", dir.c_str());
    return 2;
  }
  std::fclose(probe);

  Report report;
  std::printf("%-26s %-7s %s\n", "FILE", "STATUS", "DETAIL");
  for (const ShowImage& image : ShowImages) CheckImage(report, dir, image.file);

  std::vector<TrackKey> controlKeys;
  for (const FrameTrack& track : FrameTracks) {
    std::vector<TrackKey> keys;
    CheckTrack(report, dir, track.name, keys);
    if (track.field == &FrameTrackValues::control) controlKeys = keys;
  }

  MusicFileInfo music;
  std::string error;
  const bool musicOk = ProbeMusicFile((dir + "/" + MusicFileName).c_str(), music, error);
  if (musicOk) {
    report.Line(MusicFileName, true,
                Format("%.2f s of music (%ld Hz, %d channel(s)), %.1f rows", music.seconds, music.rate,
                       music.channels, music.seconds * RowsPerSecond));
  } else {
    report.Line(MusicFileName, false, error + " (the show would run silently on the clock)");
  }

  // At the end of the music the clock stays at its last row, so the show ends
  // only when the control code reaches the end code at some row up to there.
  if (musicOk) {
    const double endRow = music.seconds * RowsPerSecond;
    const double row = FirstEndRow(controlKeys, endRow);
    if (row >= 0.0) {
      report.Line("end of show", true,
                  Format("control reaches %d at row %.2f (%.2f s), the music ends at row %.2f", EndOfShowCode, row,
                         row / RowsPerSecond, endRow));
    } else {
      report.Line("end of show", false,
                  Format("control never reaches %d before the music ends at row %.2f: the show would "
                         "stay on its last picture until Escape",
                         EndOfShowCode, endRow));
    }
  }

  std::printf("%s: %d problem(s)\n", dir.c_str(), report.problems);
  return report.problems == 0 ? 0 : 1;
}
