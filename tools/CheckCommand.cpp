// demotool check: reads a show folder the way the demo will and reports, file
// by file, whether it will play as meant.
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "FileBytes.h"
#include "ShowLint.h"
#include "image/SystemImage.h"
#include "platform/Files.h"
#include "image/TextureMath.h"
#include "platform/MusicProbe.h"
#include "png/PngDecoder.h"
#include "show/ShowTable.h"
#include "sync/MusicClock.h"
#include "sync/ShowTime.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"
#include "sync/Tracks.h"

namespace {

struct Report {
  int problems = 0;
  int warnings = 0;
  void Line(const std::string& item, bool ok, const std::string& detail) {
    std::printf("%-26s %-7s %s\n", item.c_str(), ok ? "ok" : "PROBLEM", detail.c_str());
    if (!ok) ++problems;
  }
  // What the demo plays as written, but hardly anyone writes on purpose.
  void Warning(const std::string& item, const std::string& detail) {
    std::printf("%-26s %-7s %s\n", item.c_str(), "warning", detail.c_str());
    ++warnings;
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
  const std::string path = ShowFilePath(dir, name);
  std::FILE* file = OpenDataFile(path.c_str(), "rb");
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
  if (!ReadWholeTrackFile(ShowFilePath(dir, file).c_str(), bytes)) {
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
  } else if (scan.keys.empty()) {
    report.Line(file, true, "no keys (0 everywhere)");
  } else {
    report.Line(file, true,
                Format("%zu key(s), rows %d to %d", scan.keys.size(), scan.keys.front().row, scan.keys.back().row));
  }
  for (const ShowTrackWarning& w : LintShowTrack(track, out))
    report.Warning(file, Format("key %d, row %d: %s", w.keyIndex, w.row, w.message.c_str()));
}

// The first row at which the control code ends the show, up to endRow (the
// clock holds there once the music is over); negative when never.
//
// The code can turn into the end code only at a key's row or part way along a
// linear, smooth or ramp stretch. A key's row is evaluated as it is, so a
// step key answers with its own row. This once sampled rows by adding a
// twentieth again and again; 0.05 has no exact binary form, the sum drifted
// below the multiples it stood for (2399.99999999997 after 48000 additions)
// and a key at 2400 was found one sample late, at 2400.05, while at 2640 the
// drift happened to fall above and the figure came out right.
double FirstEndRow(const std::vector<TrackKey>& keys, double endRow) {
  if (keys.empty() || endRow < 0.0) return -1.0;
  Track control{nullptr, const_cast<TrackKey*>(keys.data()), static_cast<int32_t>(keys.size())};
  const auto code = [&](double row) { return TruncateTrackValue(TrackValue(&control, row)); };
  if (code(0.0) == EndOfShowCode) return 0.0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const double from = keys[i].row;
    if (from > endRow) break;
    if (from > 0.0 && code(from) == EndOfShowCode) return from;
    const int32_t kind = keys[i].kind;
    if (i + 1 == keys.size() || kind < KindLinear || kind > KindRamp) continue;
    // Each interpolating kind moves one way from a key to the next, so the
    // rows whose code is the end code form one stretch: its start is the
    // first row at which the value has come as far as the code (from below
    // or from above), found by halving.
    const bool rising = keys[i + 1].value >= keys[i].value;
    const auto arrived = [&](double row) {
      const float value = TrackValue(&control, row);
      return rising ? value >= float(EndOfShowCode) : value < float(EndOfShowCode + 1);
    };
    double before = std::max(from, 0.0), after = std::min(double(keys[i + 1].row), endRow);
    if (after <= before || arrived(before) || !arrived(after)) continue;
    for (int halving = 0; halving < 64 && after - before > 1e-9; ++halving) {
      const double middle = before + (after - before) / 2;
      (arrived(middle) ? after : before) = middle;
    }
    if (code(after) == EndOfShowCode) return after;
  }
  return -1.0;
}

// Track files the show never reads: a misspelt name in the text they were
// built from, most likely, whose track then plays 0.
void CheckStrayTrackFiles(Report& report, const std::string& dir) {
  std::error_code ec;
  std::vector<std::string> stray;
  for (const auto& entry : std::filesystem::directory_iterator(FileSystemPath(NativeDataPath(dir.c_str())), ec)) {
    const std::string file = PathText(entry.path().filename());
    const std::string prefix = TrackFilePrefix, suffix = TrackFileSuffix;
    if (file.size() <= prefix.size() + suffix.size() || file.rfind(prefix, 0) != 0 ||
        file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    if (!IsShowTrack(file.substr(prefix.size(), file.size() - prefix.size() - suffix.size()))) stray.push_back(file);
  }
  std::sort(stray.begin(), stray.end());
  for (const std::string& file : stray) {
    const std::string name = file.substr(std::strlen(TrackFilePrefix),
                                         file.size() - std::strlen(TrackFilePrefix) - std::strlen(TrackFileSuffix));
    report.Line(file, false,
                Format("the show reads no track %s, so never this file; did you mean %s?", QuoteWord(name).c_str(),
                       JoinAlternatives(ClosestShowTracks(name)).c_str()));
  }
}

}  // namespace

int RunCheckCommand(int argc, char** argv) {
  if (argc > 1 || (argc == 1 && (!std::strcmp(argv[0], "--help") || !std::strcmp(argv[0], "-h")))) {
    std::fputs("usage: demotool check [RESDIR]   (default res)\n", argc > 1 ? stderr : stdout);
    return argc > 1 ? 2 : 0;
  }
  const std::string dir = argc == 1 ? argv[0] : ShowFolder;
  std::string why;
  if (!CheckShowFolder(dir, why)) {
    std::fprintf(stderr, "demotool: check: cannot open the folder '%s': %s\n", dir.c_str(), why.c_str());
    return 2;
  }

  Report report;
  std::printf("%-26s %-7s %s\n", "FILE", "STATUS", "DETAIL");
  for (const ShowImage& image : ShowImages) CheckImage(report, dir, image.file);

  std::vector<TrackKey> controlKeys;
  for (const FrameTrack& track : FrameTracks) {
    std::vector<TrackKey> keys;
    CheckTrack(report, dir, track.name, keys);
    if (track.field == &FrameTrackValues::control) controlKeys = keys;
  }
  CheckStrayTrackFiles(report, dir);

  MusicFileInfo music;
  std::string error;
  // The length the demo reads off the frame headers (decoders differ by the
  // padding they drop), in the demo's own m:ss.ff, so that this line, the
  // demo's refusals and --edit's status line name the same end.
  const std::string musicPath = ShowFilePath(dir, MusicFileName);
  const bool musicOk = ProbeMusicFile(musicPath.c_str(), music, error);
  const double endRow = musicOk ? MusicFileEndRow(musicPath).value_or(music.seconds * RowsPerSecond) : 0.0;
  if (musicOk) {
    report.Line(MusicFileName, true,
                Format("%s of music (%ld Hz, %d channel(s)), %.1f rows", FormatShowTime(endRow / RowsPerSecond).c_str(),
                       music.rate, music.channels, endRow));
  } else {
    report.Line(MusicFileName, false, error + " (the show would run silently on the clock)");
  }

  // At the end of the music the clock stays at its last row, so the show ends
  // only when the control code reaches the end code at some row up to there.
  if (musicOk) {
    const double row = FirstEndRow(controlKeys, endRow);
    if (row >= 0.0) {
      report.Line("end of show", true,
                  Format("control reaches %d at row %.2f (%.2f s), the music ends at row %.2f (%s)", EndOfShowCode,
                         row, row / RowsPerSecond, endRow, FormatShowTime(endRow / RowsPerSecond).c_str()));
    } else {
      report.Line("end of show", false,
                  Format("control never reaches %d before the music ends at row %.2f (%s): the show would "
                         "stay on its last picture until Escape",
                         EndOfShowCode, endRow, FormatShowTime(endRow / RowsPerSecond).c_str()));
    }
  }

  std::printf("%s: %d problem(s), %d warning(s)\n", dir.c_str(), report.problems, report.warnings);
  return report.problems == 0 ? 0 : 1;
}
