// demotool track: build, dump, evaluate and check the demo's binary track files.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "Commands.h"
#include "ShowLint.h"
#include "platform/Files.h"
#include "show/ShowTable.h"
#include "sync/TrackFile.h"
#include "sync/TrackText.h"
#include "sync/Tracks.h"

namespace {

const char* const TrackUsage =
    "usage: demotool track COMMAND ARGS\n"
    "\n"
    "  build SOURCE OUTDIR   compile a track text file into OUTDIR/steak_NAME.track, one file\n"
    "                        for every track of the show (without keys where the text has none)\n"
    "  dump FILE             print a binary track file as track text\n"
    "  eval FILE ROW...      print the track's value at each fractional row (%.9g)\n"
    "  check FILE...         report what the demo would tolerate silently; exit 1 if anything\n"
    "                        is wrong with a file (warnings about its keys leave the status 0)\n"
    "  plot SOURCE -o FILE   draw the tracks of SOURCE (text or a folder) as FILE.png or .svg;\n"
    "                        [--from TIME] [--to TIME] [--tracks NAME,...], see plot --help\n"
    "\n"
    "Track text: '# comment', 'track NAME', then one key per line: ROW VALUE KIND,\n"
    "KIND being step, linear, smooth, ramp or an integer from -128 to 127.\n"
    "\n"
    "exit status: 0 success, 1 errors in the input (build) or findings (check),\n"
    "2 bad arguments or unreadable/unwritable files\n";

constexpr int ExitFindings = 1;
constexpr int ExitUsage = 2;

bool ReadTextFile(const char* path, std::string& text) {
  std::FILE* f = OpenFile(path, "rb");
  if (!f) return false;
  char chunk[16384];
  std::size_t got;
  text.clear();
  while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, got);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

bool WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = OpenFile(path, "wb");
  if (!f) return false;
  const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && wrote;
}

// The track name a file stands for: steak_NAME.track gives NAME.
std::string TrackNameOfFile(const char* path) {
  std::string name = PathText(FileSystemPath(path).filename());
  const std::string suffix = TrackFileSuffix;
  const std::string prefix = TrackFilePrefix;
  if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
    name.erase(name.size() - suffix.size());
  if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size()) name.erase(0, prefix.size());
  return name;
}

// Whether a file is named as the demo names track files: steak_NAME.track.
bool IsTrackFileName(const char* path) {
  const std::string name = PathText(FileSystemPath(path).filename());
  const std::string suffix = TrackFileSuffix;
  const std::string prefix = TrackFilePrefix;
  return name.size() > prefix.size() + suffix.size() && name.rfind(prefix, 0) == 0 &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string Describe(const char* path, const TrackFileFinding& finding) {
  std::string out = path;
  out += ": ";
  if (finding.keyIndex >= 0) out += "key " + std::to_string(finding.keyIndex) + ": ";
  return out + finding.message;
}

int Build(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("demotool: track build: expected SOURCE OUTDIR\n", stderr);
    return ExitUsage;
  }
  const char* source = argv[0];
  const std::filesystem::path outDir = FileSystemPath(argv[1]);
  std::string text;
  if (!ReadTextFile(source, text)) {
    std::fprintf(stderr, "demotool: track build: cannot read %s: %s\n", source, std::strerror(errno));
    return ExitUsage;
  }
  std::vector<TrackTextError> errors;
  const std::vector<TrackSource> tracks = ParseTrackText(text, errors);
  if (!errors.empty()) {
    for (const TrackTextError& e : errors) std::fprintf(stderr, "%s:%d: %s\n", source, e.line, e.message.c_str());
    std::fprintf(stderr, "demotool: track build: %zu error(s); nothing written\n", errors.size());
    return ExitFindings;
  }
  // A name the show does not read would become a file nobody reads, and the
  // track meant would stay 0: refused before anything is written.
  int unknown = 0;
  for (const TrackSource& track : tracks) {
    if (IsShowTrack(track.name)) continue;
    std::fprintf(stderr, "%s:%d: track %s is none of the show's tracks; did you mean %s?\n", source, track.line,
                 QuoteWord(track.name).c_str(), JoinAlternatives(ClosestShowTracks(track.name)).c_str());
    ++unknown;
  }
  if (unknown > 0) {
    std::fprintf(stderr, "demotool: track build: %d unknown track name(s); nothing written\n", unknown);
    return ExitFindings;
  }
  // An empty text would turn every track of the show in OUTDIR to 0: far more
  // likely the wrong file than a wish.
  if (tracks.empty()) {
    std::fprintf(stderr, "demotool: track build: %s defines no tracks; nothing written\n", source);
    return ExitFindings;
  }

  std::error_code ec;
  std::filesystem::create_directories(outDir, ec);
  if (ec || !std::filesystem::is_directory(outDir)) {
    std::fprintf(stderr, "demotool: track build: cannot create directory %s\n", argv[1]);
    return ExitUsage;
  }
  // Every track of the show, so that OUTDIR plays what `demo --edit` plays
  // with the same text: a track the text leaves out gets a file without keys
  // (0 throughout); otherwise whatever file it had before would stay in
  // place, and the demo would play it.
  std::string leftOut;
  int leftOutCount = 0;
  for (const FrameTrack& frameTrack : FrameTracks) {
    const auto named = std::find_if(tracks.begin(), tracks.end(),
                                    [&](const TrackSource& t) { return t.name == frameTrack.name; });
    const std::vector<TrackKey> none;
    const std::vector<TrackKey>& keys = named != tracks.end() ? named->keys : none;
    if (named == tracks.end()) {
      leftOut += leftOut.empty() ? "" : ", ";
      leftOut += frameTrack.name;
      ++leftOutCount;
    }
    const std::filesystem::path file = outDir / TrackFileName(frameTrack.name);
    const std::vector<uint8_t> bytes = EncodeTrackFile(keys.data(), int32_t(keys.size()));
    const std::string shown = PathText(file);
    if (!WriteBytes(shown, bytes)) {
      std::fprintf(stderr, "demotool: track build: cannot write %s: %s\n", shown.c_str(), std::strerror(errno));
      return ExitUsage;
    }
    std::printf("%s: %zu key(s)\n", shown.c_str(), keys.size());
  }
  if (leftOutCount > 0)
    std::fprintf(stderr,
                 "demotool: track build: %s leaves out %d of the show's tracks, written without keys "
                 "(0 throughout): %s\n",
                 source, leftOutCount, leftOut.c_str());
  return 0;
}

int Dump(int argc, char** argv) {
  if (argc != 1) {
    std::fputs("demotool: track dump: expected one FILE\n", stderr);
    return ExitUsage;
  }
  std::vector<uint8_t> bytes;
  if (!ReadWholeTrackFile(argv[0], bytes)) {
    std::fprintf(stderr, "demotool: track dump: cannot read %s (missing, unreadable or over 256 MiB)\n", argv[0]);
    return ExitUsage;
  }
  const TrackFileScan scan = ScanTrackBytes(bytes.data(), bytes.size());
  for (const TrackFileFinding& finding : scan.findings)
    std::fprintf(stderr, "demotool: track dump: warning: %s\n", Describe(argv[0], finding).c_str());
  const std::string text = FormatTrackText(TrackNameOfFile(argv[0]), scan.keys.data(), int32_t(scan.keys.size()));
  std::fputs(text.c_str(), stdout);
  return 0;
}

int Eval(int argc, char** argv) {
  if (argc < 2) {
    std::fputs("demotool: track eval: expected FILE ROW...\n", stderr);
    return ExitUsage;
  }
  std::vector<double> rows;
  for (int i = 1; i < argc; ++i) {
    char* end = nullptr;
    errno = 0;
    const double row = std::strtod(argv[i], &end);
    if (end == argv[i] || *end != '\0' || errno == ERANGE) {
      std::fprintf(stderr, "demotool: track eval: bad row '%s'\n", argv[i]);
      return ExitUsage;
    }
    rows.push_back(row);
  }
  Track track{nullptr, nullptr, 0};
  if (LoadTrackFile(argv[0], &track) == TrackLoad::CannotOpen) {
    std::fprintf(stderr, "demotool: track eval: cannot open %s\n", argv[0]);
    return ExitUsage;
  }
  for (double row : rows) std::printf("%.9g\n", double(TrackValue(&track, row)));
  delete[] track.keys;
  return 0;
}

int Check(int argc, char** argv) {
  if (argc < 1) {
    std::fputs("demotool: track check: expected FILE...\n", stderr);
    return ExitUsage;
  }
  int status = 0;
  for (int i = 0; i < argc; ++i) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeTrackFile(argv[i], bytes)) {
      std::fprintf(stderr, "demotool: track check: %s: cannot read (missing, unreadable or over 256 MiB)\n", argv[i]);
      status = ExitUsage;
      continue;
    }
    const TrackFileScan scan = ScanTrackBytes(bytes.data(), bytes.size());
    for (const TrackFileFinding& finding : scan.findings) std::printf("%s\n", Describe(argv[i], finding).c_str());
    if (scan.refused) std::printf("%s: the demo refuses this file and the track has no keys\n", argv[i]);
    if (!scan.findings.empty() && status == 0) status = ExitFindings;
    if (scan.findings.empty()) std::printf("%s: ok, %zu key(s)\n", argv[i], scan.keys.size());
    // Warnings: what the demo plays as written but hardly anyone means. They
    // leave the exit status alone, since the file itself is sound.
    const std::string name = TrackNameOfFile(argv[i]);
    if (IsTrackFileName(argv[i]) && !IsShowTrack(name)) {
      std::printf("%s: warning: the show reads no track %s, so never this file; did you mean %s?\n", argv[i],
                  QuoteWord(name).c_str(), JoinAlternatives(ClosestShowTracks(name)).c_str());
    }
    if (!scan.refused) {
      for (const ShowTrackWarning& w : LintShowTrack(name, scan.keys))
        std::printf("%s: key %d (row %d): warning: %s\n", argv[i], w.keyIndex, w.row, w.message.c_str());
    }
  }
  return status;
}

}  // namespace

int RunTrackCommand(int argc, char** argv) {
  if (argc < 1) {
    std::fputs(TrackUsage, stderr);
    return ExitUsage;
  }
  const std::string command = argv[0];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(TrackUsage, stdout);
    return 0;
  }
  if (command == "build") return Build(argc - 1, argv + 1);
  if (command == "dump") return Dump(argc - 1, argv + 1);
  if (command == "eval") return Eval(argc - 1, argv + 1);
  if (command == "check") return Check(argc - 1, argv + 1);
  if (command == "plot") {
#ifdef DEMO_NO_PLOT
    std::fputs("demotool: track: plot is not available in this build\n", stderr);
    return ExitUsage;
#else
    return RunTrackPlot(argc - 1, argv + 1);
#endif
  }
  std::fprintf(stderr, "demotool: track: unknown command '%s'\n\n%s", command.c_str(), TrackUsage);
  return ExitUsage;
}
