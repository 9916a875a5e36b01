// demotool track plot: a picture of a show's tracks, one lane per track on a
// common time axis, each curve sampled with the very evaluation the demo
// uses, each key marked with its kind, and the control lane labelled with the
// plane and image each of its codes draws. Where everything goes is decided
// by the layout (PlotLayout.cpp); the file's extension picks the back end
// that draws it: PNG (cairo on Linux, GDI+ on Windows) or SVG.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Commands.h"
#include "PlotLayout.h"
#include "TrackSources.h"
#include "platform/Files.h"
#include "show/ShowTable.h"
#include "sync/MusicClock.h"
#include "sync/ShowTime.h"
#include "sync/TrackText.h"

namespace {

const char* const PlotUsage =
    "usage: demotool track plot SOURCE -o FILE [--from TIME] [--to TIME] [--tracks NAME,...]\n"
    "\n"
    "Draws one lane per track on a common time axis (seconds above, rows below):\n"
    "the curve as the demo evaluates it, each key marked by its kind, and the\n"
    "control lane labelled with each code and the plane and image it draws.\n"
    "Track text's tempo lines become faint beat lines, its mark lines named lines.\n"
    "\n"
    "  SOURCE           track text, or a folder of steak_NAME.track files\n"
    "  -o FILE          FILE.png or FILE.svg (the extension picks the format)\n"
    "  --from, --to     the stretch of the show to draw (default: all of it)\n"
    "  --tracks A,B     only these tracks, in this order\n"
    "\n"
    "The same show gives the same picture on Linux and Windows: PNG is drawn\n"
    "with cairo on Linux and GDI+ on Windows, SVG by demotool itself.\n"
    "\n"
    "TIME is seconds (61.5), minutes and seconds (1:01.5) or a row (r1230).\n"
    "exit status: 0 written, 1 errors in the track text or names that are not\n"
    "UTF-8 text, 2 bad arguments or files that cannot be read or written\n";

constexpr int ExitFindings = 1;
constexpr int ExitUsage = 2;

bool EndsWith(std::string text, const char* suffix) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t n = std::strlen(suffix);
  return text.size() > n && text.compare(text.size() - n, n, suffix) == 0;
}

// The tempo and mark lines of track text; none for a folder, whose binary
// files hold keys only. The text has been read and checked already.
std::optional<TrackTextNotes> ReadNotes(const std::string& source) {
  std::error_code ec;
  if (std::filesystem::is_directory(FileSystemPath(source), ec)) return std::nullopt;
  std::ifstream in(FileSystemPath(source), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) return std::nullopt;
  std::vector<TrackTextError> errors;
  TrackTextNotes notes;
  ParseTrackText(text.str(), errors, &notes);
  if (!errors.empty()) return std::nullopt;
  return notes;
}

// Under a temporary name beside the file, renamed over it once whole, so that
// a failure leaves neither a partial picture nor a lost older one.
bool WriteOutput(const std::string& path, const std::string& bytes, std::string& error) {
  PendingFile file;
  if (!CreatePendingFile(path, file, error)) return false;
  std::FILE* out = OpenFile(file.tempPath, "wb");
  bool ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out && std::fclose(out) != 0) ok = false;
  if (!ok) {
    error = "cannot write '" + path + "': " + std::strerror(errno);
    DiscardPendingFile(file);
    return false;
  }
  return CommitPendingFile(file, error);
}

}  // namespace

int RunTrackPlot(int argc, char** argv) {
  std::string source, output, only;
  std::optional<double> fromRow, toRow;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(PlotUsage, stdout);
      return 0;
    }
    const bool takesValue = arg == "-o" || arg == "--from" || arg == "--to" || arg == "--tracks";
    if (takesValue && i + 1 >= argc) {
      std::fprintf(stderr, "demotool: track plot: %s needs a value\n\n%s", arg.c_str(), PlotUsage);
      return ExitUsage;
    }
    if (arg == "-o") {
      output = argv[++i];
    } else if (arg == "--tracks") {
      only = argv[++i];
    } else if (arg == "--from" || arg == "--to") {
      double row = 0.0;
      if (!ParseShowTime(argv[++i], &row)) {
        std::fprintf(stderr, "demotool: track plot: %s '%s': not a time (61.5, 1:01.5 or r1230)\n", arg.c_str(), argv[i]);
        return ExitUsage;
      }
      (arg == "--from" ? fromRow : toRow) = row;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "demotool: track plot: unknown option '%s'\n\n%s", arg.c_str(), PlotUsage);
      return ExitUsage;
    } else if (source.empty()) {
      source = arg;
    } else {
      std::fprintf(stderr, "demotool: track plot: one SOURCE only ('%s' is one too many)\n", arg.c_str());
      return ExitUsage;
    }
  }
  if (source.empty() || output.empty()) {
    std::fprintf(stderr, "demotool: track plot: expected SOURCE and -o FILE\n\n%s", PlotUsage);
    return ExitUsage;
  }
  const bool svg = EndsWith(output, ".svg");
  if (!svg && !EndsWith(output, ".png")) {
    std::fprintf(stderr, "demotool: track plot: '%s' must end in .png or .svg\n", output.c_str());
    return ExitUsage;
  }

  std::vector<PlotTrack> tracks;
  const int loaded = LoadPlotTracks(source, tracks, "demotool: track plot");
  if (loaded != 0) return loaded;
  if (!only.empty()) {
    std::vector<PlotTrack> chosen;
    size_t start = 0;
    while (start <= only.size()) {
      const size_t comma = std::min(only.find(',', start), only.size());
      const std::string name = only.substr(start, comma - start);
      const auto found = std::find_if(tracks.begin(), tracks.end(), [&](const PlotTrack& t) { return t.name == name; });
      if (found == tracks.end()) {
        std::fprintf(stderr, "demotool: track plot: no track '%s' in %s\n", name.c_str(), source.c_str());
        return ExitUsage;
      }
      chosen.push_back(*found);
      start = comma + 1;
    }
    tracks = std::move(chosen);
  }
  if (tracks.empty()) {
    std::fprintf(stderr, "demotool: track plot: %s holds no tracks\n", source.c_str());
    return ExitFindings;
  }
  std::optional<TrackTextNotes> notes = ReadNotes(source);
  // Names are drawn as text: bytes that are not UTF-8 (a Latin-1 file) or
  // control characters would make a picture that lies or a file that no SVG
  // reader accepts.
  for (PlotTrack& track : tracks) {
    if (!IsPlotText(track.name)) {
      std::fprintf(stderr, "demotool: track plot: %s: the track name '%s' is not UTF-8 text\n", source.c_str(),
                   track.name.c_str());
      return ExitFindings;
    }
    track.Bind();
  }
  if (notes) {
    for (const TrackMark& mark : notes->marks) {
      if (!IsPlotText(mark.name)) {
        std::fprintf(stderr, "demotool: track plot: %s:%d: the mark's name is not UTF-8 text\n", source.c_str(),
                     mark.line);
        return ExitFindings;
      }
    }
  }

  const PlotRange range = DefaultPlotRange(tracks, fromRow.value_or(0.0), toRow.has_value(), toRow.value_or(0.0));
  if (!(range.toRow > range.fromRow)) {
    std::fprintf(stderr, "demotool: track plot: --to must come after --from\n");
    return ExitUsage;
  }
  std::string title = PathText(FileSystemPath(source).filename());
  if (!IsPlotText(title)) title = "tracks";  // the picture is of the tracks, whatever the file is called
  title += ": " + FormatShowTime(range.fromRow / RowsPerSecond) + " to " + FormatShowTime(range.toRow / RowsPerSecond) +
           " (rows " + PlotNumber(range.fromRow) + " to " + PlotNumber(range.toRow) + ")";

  const PlotPicture picture = LayOutPlot(tracks, range, title, notes ? &*notes : nullptr);
  std::string bytes, error;
  if (svg) {
    bytes = PlotToSvg(picture);
  } else if (!PlotToPng(picture, bytes, error)) {
    std::fprintf(stderr, "demotool: track plot: cannot draw '%s': %s\n", output.c_str(), error.c_str());
    return ExitUsage;
  }
  if (!WriteOutput(output, bytes, error)) {
    std::fprintf(stderr, "demotool: track plot: %s\n", error.c_str());
    return ExitUsage;
  }
  std::printf("%s: %zu track(s), %s to %s\n", output.c_str(), tracks.size(),
              FormatShowTime(range.fromRow / RowsPerSecond).c_str(), FormatShowTime(range.toRow / RowsPerSecond).c_str());
  return 0;
}
