// demotool track plot: a picture of a show's tracks drawn with cairo, one lane
// per track on a common time axis, each curve sampled with the very
// evaluation the demo uses, each key marked with its kind, and the control
// lane labelled with the plane and image each of its codes draws.
#include <cairo-svg.h>
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "TrackSources.h"
#include "platform/Files.h"
#include "render/FramePlan.h"
#include "show/ShowTable.h"
#include "sync/MusicClock.h"
#include "sync/ShowTime.h"
#include "sync/Tracks.h"

namespace {

const char* const PlotUsage =
    "usage: demotool track plot SOURCE -o FILE [--from TIME] [--to TIME] [--tracks NAME,...]\n"
    "\n"
    "Draws one lane per track on a common time axis (seconds above, rows below):\n"
    "the curve as the demo evaluates it, each key marked by its kind, and the\n"
    "control lane labelled with each code and the plane and image it draws.\n"
    "\n"
    "  SOURCE           track text, or a folder of steak_NAME.track files\n"
    "  -o FILE          FILE.png or FILE.svg\n"
    "  --from, --to     the stretch of the show to draw (default: all of it)\n"
    "  --tracks A,B     only these tracks, in this order\n"
    "\n"
    "TIME is seconds (61.5), minutes and seconds (1:01.5) or a row (r1230).\n"
    "exit status: 0 written, 1 errors in the track text, 2 bad arguments or\n"
    "files that cannot be read or written\n";

constexpr int ExitFindings = 1;
constexpr int ExitUsage = 2;

// The picture's layout, in pixels (points for SVG).
constexpr double Width = 1600.0;
constexpr double LeftMargin = 150.0;
constexpr double NameX = 8.0;  // track names flush left, value labels flush with the lanes
constexpr double RightMargin = 24.0;
constexpr double TopMargin = 64.0;
constexpr double BottomMargin = 44.0;
constexpr double LaneHeight = 64.0;
constexpr double ControlLaneHeight = 124.0;  // room for three rows of code labels
constexpr double LaneGap = 10.0;
constexpr double SamplesPerPixel = 2.0;

struct Colour {
  double r, g, b;
};
constexpr Colour Ink{0.12, 0.12, 0.14};
constexpr Colour Faint{0.86, 0.87, 0.9};
constexpr Colour Curve{0.1, 0.32, 0.75};
constexpr Colour EndMark{0.8, 0.1, 0.1};
constexpr Colour KindColours[] = {{0.55, 0.2, 0.6}, {0.1, 0.55, 0.25}, {0.9, 0.5, 0.0}, {0.8, 0.1, 0.3}};

void Set(cairo_t* cr, const Colour& c) { cairo_set_source_rgb(cr, c.r, c.g, c.b); }

// Where a row lies across the picture.
struct TimeAxis {
  double fromRow, toRow;
  double X(double row) const {
    return LeftMargin + (row - fromRow) / (toRow - fromRow) * (Width - LeftMargin - RightMargin);
  }
};

// A seconds step that puts at most twenty ticks on the axis: steps a clock
// reads well up to twenty minutes, then 1, 2 and 5 times a power of ten, so
// that a key far out (row 2^31 is three years in) gives no more labels.
double TickSeconds(double seconds) {
  static const double steps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1200};
  for (double step : steps)
    if (seconds / step <= 20.0) return step;
  for (double decade = 1000.0;; decade *= 10.0) {
    for (double step : {2 * decade, 5 * decade, 10 * decade})
      if (seconds / step <= 20.0) return step;
  }
}

void Text(cairo_t* cr, double x, double y, const std::string& text, double size, double alignX = 0.0) {
  cairo_set_font_size(cr, size);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  cairo_move_to(cr, x - extents.x_advance * alignX, y);
  cairo_show_text(cr, text.c_str());
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value);
  return text;
}

void DrawAxis(cairo_t* cr, const TimeAxis& axis, double top, double bottom) {
  const double seconds = (axis.toRow - axis.fromRow) / RowsPerSecond;
  const double step = TickSeconds(seconds);
  const double first = std::ceil(axis.fromRow / RowsPerSecond / step - 1e-9) * step;
  cairo_set_line_width(cr, 1.0);
  for (double s = first; s * RowsPerSecond <= axis.toRow + 1e-6; s += step) {
    const double row = s * RowsPerSecond;
    const double x = std::round(axis.X(row)) + 0.5;
    Set(cr, Faint);
    cairo_move_to(cr, x, top);
    cairo_line_to(cr, x, bottom);
    cairo_stroke(cr);
    Set(cr, Ink);
    std::string label = FormatShowTime(s);
    if (step >= 1.0) label.erase(label.size() - 3);  // whole seconds: no hundredths
    Text(cr, x, top - 6, label, 11, 0.5);
    Text(cr, x, bottom + 14, "r" + Number(row + 0.0), 10, 0.5);  // + 0.0: no "r-0"
  }
  Text(cr, NameX, top - 6, "time", 11);
  Text(cr, NameX, bottom + 14, "row", 10);
}

// A key's mark: square for step, circle for linear, diamond for smooth,
// triangle for ramp, a cross for a kind the demo evaluates as 0.
void DrawKeyMark(cairo_t* cr, double x, double y, int32_t kind) {
  const double r = 3.5;
  if (kind < KindStep || kind > KindRamp) {
    Set(cr, Ink);
    cairo_move_to(cr, x - r, y - r);
    cairo_line_to(cr, x + r, y + r);
    cairo_move_to(cr, x - r, y + r);
    cairo_line_to(cr, x + r, y - r);
    cairo_stroke(cr);
    return;
  }
  Set(cr, KindColours[kind]);
  switch (kind) {
    case KindStep: cairo_rectangle(cr, x - r, y - r, 2 * r, 2 * r); break;
    case KindLinear: cairo_arc(cr, x, y, r, 0, 2 * M_PI); break;
    case KindSmooth:
      cairo_move_to(cr, x, y - r - 1);
      cairo_line_to(cr, x + r + 1, y);
      cairo_line_to(cr, x, y + r + 1);
      cairo_line_to(cr, x - r - 1, y);
      cairo_close_path(cr);
      break;
    default:
      cairo_move_to(cr, x, y - r - 1);
      cairo_line_to(cr, x + r + 1, y + r);
      cairo_line_to(cr, x - r - 1, y + r);
      cairo_close_path(cr);
  }
  cairo_fill(cr);
}

void DrawLegend(cairo_t* cr) {
  double x = Width - RightMargin - 430;
  const double y = 18;
  const char* names[] = {"step", "linear", "smooth", "ramp", "other kind (0.0)"};
  for (int kind = 0; kind < 5; ++kind) {
    DrawKeyMark(cr, x, y - 4, kind < 4 ? kind : 100);
    Set(cr, Ink);
    Text(cr, x + 8, y, names[kind], 11);
    x += kind < 4 ? 70 : 0;
  }
}

// "7: C vorn.gif in", "777: end", "0: none".
std::string ControlLabel(int32_t code) {
  if (code == EndOfShowCode) return std::to_string(code) + ": end";
  const PlaneChoice plane = PlaneForControlCode(code);
  if (plane.routine == PlaneRoutine::None) return std::to_string(code) + ": none";
  const char routine = "-ABC"[static_cast<int>(plane.routine)];
  const char* image = ShowImageForSlot(plane.slot);
  return std::to_string(code) + ": " + routine + " " + (image ? image : "slot " + std::to_string(plane.slot)) +
         (plane.fadeOut ? " out" : " in");
}

struct Lane {
  const PlotTrack* track;
  double top, height;
};

// The curve, the key marks and the lane's frame; the control lane also gets a
// label at each change of code.
void DrawLane(cairo_t* cr, const Lane& lane, const TimeAxis& axis) {
  const Track& track = lane.track->track;
  const bool control = lane.track->name == ControlTrackName;
  const int samples = static_cast<int>((Width - LeftMargin - RightMargin) * SamplesPerPixel);
  std::vector<double> rows(samples + 1);
  std::vector<float> values(samples + 1);
  float low = INFINITY, high = -INFINITY;
  for (int i = 0; i <= samples; ++i) {
    rows[i] = axis.fromRow + (axis.toRow - axis.fromRow) * i / samples;
    values[i] = TrackValue(&track, rows[i]);
    // The end code would squash every other code to the floor of the lane:
    // the scale leaves it out and its stretch is drawn at the top.
    const bool end = control && TruncateTrackValue(values[i]) == EndOfShowCode;
    if (std::isfinite(values[i]) && !end) {
      low = std::min(low, values[i]);
      high = std::max(high, values[i]);
    }
  }
  if (!(low <= high)) low = high = 0.0f;
  double bottomValue = low, topValue = high;
  if (topValue - bottomValue < 1e-6) {
    bottomValue -= 1.0;
    topValue += 1.0;
  }
  const double curveTop = lane.top + (control ? 44.0 : 8.0);
  const double curveBottom = lane.top + lane.height - 8.0;
  auto y = [&](double v) {
    return std::clamp(curveBottom - (v - bottomValue) / (topValue - bottomValue) * (curveBottom - curveTop), curveTop,
                      curveBottom);
  };

  cairo_set_line_width(cr, 1.0);
  Set(cr, Faint);
  cairo_rectangle(cr, LeftMargin + 0.5, lane.top + 0.5, Width - LeftMargin - RightMargin, lane.height);
  cairo_stroke(cr);
  Set(cr, Ink);
  Text(cr, NameX, lane.top + lane.height / 2 + 4, lane.track->name, 13);
  if (track.keyCount == 0) Text(cr, NameX, lane.top + lane.height / 2 + 18, "no keys: 0", 9);
  Text(cr, LeftMargin - 4, curveTop + 4, Number(high), 9, 1.0);
  Text(cr, LeftMargin - 4, curveBottom, Number(low), 9, 1.0);

  Set(cr, Curve);
  cairo_set_line_width(cr, 1.5);
  bool drawing = false;
  for (int i = 0; i <= samples; ++i) {
    if (!std::isfinite(values[i])) {
      drawing = false;
      continue;
    }
    const double x = axis.X(rows[i]);
    if (drawing) {
      cairo_line_to(cr, x, y(values[i]));
    } else {
      cairo_move_to(cr, x, y(values[i]));
      drawing = true;
    }
  }
  cairo_stroke(cr);
  cairo_set_line_width(cr, 1.2);
  for (int32_t k = 0; k < track.keyCount; ++k) {
    const TrackKey& key = track.keys[k];
    if (key.row < axis.fromRow || key.row > axis.toRow) continue;
    const float value = TrackValue(&track, key.row);
    if (std::isfinite(value)) DrawKeyMark(cr, axis.X(key.row), y(value), key.kind);
  }

  if (!control) return;
  // Three rows of labels taken in turn, so that neighbours do not overlap.
  int32_t previous = 0;
  int labelRow = 0;
  double lastX[3] = {-1e9, -1e9, -1e9};
  for (int i = 0; i <= samples; ++i) {
    const int32_t code = TruncateTrackValue(values[i]);
    if (i > 0 && code == previous) continue;
    previous = code;
    const double x = axis.X(rows[i]);
    cairo_set_font_size(cr, 10);
    const std::string label = ControlLabel(code);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, label.c_str(), &extents);
    int row = labelRow;
    for (int tries = 0; tries < 3 && x < lastX[row]; ++tries) row = (row + 1) % 3;
    labelRow = (row + 1) % 3;
    lastX[row] = x + extents.x_advance + 6;
    const double labelY = lane.top + 13 + 12 * row;
    Set(cr, code == EndOfShowCode ? EndMark : Ink);
    cairo_move_to(cr, x + 0.5, labelY + 2);
    cairo_line_to(cr, x + 0.5, curveTop);
    cairo_set_line_width(cr, 0.5);
    cairo_stroke(cr);
    Text(cr, x + 2, labelY, label, 10);
  }
}

// The first row (from the sampled ones) whose control code ends the show.
std::optional<double> EndRow(const PlotTrack* control, const TimeAxis& axis) {
  if (!control) return std::nullopt;
  const int samples = static_cast<int>((Width - LeftMargin - RightMargin) * SamplesPerPixel);
  for (int i = 0; i <= samples; ++i) {
    const double row = axis.fromRow + (axis.toRow - axis.fromRow) * i / samples;
    if (TruncateTrackValue(TrackValue(&control->track, row)) == EndOfShowCode) return row;
  }
  return std::nullopt;
}

// The first drawing error, which cairo keeps in the context rather than the
// surface (text that is not UTF-8, for one).
cairo_status_t Draw(cairo_surface_t* surface, const std::vector<PlotTrack>& tracks, const TimeAxis& axis,
                    const std::string& title, double height) {
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  Set(cr, Ink);
  Text(cr, LeftMargin, 22, title, 14);
  DrawLegend(cr);
  const double top = TopMargin, bottom = height - BottomMargin;
  DrawAxis(cr, axis, top - 4, bottom + 4);
  double laneTop = top;
  const PlotTrack* control = nullptr;
  for (const PlotTrack& track : tracks) {
    const bool isControl = track.name == ControlTrackName;
    if (isControl) control = &track;
    const Lane lane{&track, laneTop, isControl ? ControlLaneHeight : LaneHeight};
    DrawLane(cr, lane, axis);
    laneTop += lane.height + LaneGap;
  }
  if (const std::optional<double> end = EndRow(control, axis)) {
    Set(cr, EndMark);
    cairo_set_line_width(cr, 1.5);
    cairo_move_to(cr, axis.X(*end), top - 4);
    cairo_line_to(cr, axis.X(*end), bottom + 4);
    cairo_stroke(cr);
  }
  const cairo_status_t status = cairo_status(cr);
  cairo_destroy(cr);
  return status;
}

bool EndsWith(std::string text, const char* suffix) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const size_t n = std::strlen(suffix);
  return text.size() > n && text.compare(text.size() - n, n, suffix) == 0;
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
  for (PlotTrack& track : tracks) track.Bind();

  // Everything up to the last key, and a little beyond so that it shows.
  int32_t lastRow = 0;
  for (const PlotTrack& track : tracks)
    if (!track.keys.empty()) lastRow = std::max(lastRow, track.keys.back().row);
  TimeAxis axis{fromRow.value_or(0.0), 0.0};
  axis.toRow = toRow.value_or(std::max(axis.fromRow + 200.0, lastRow + std::max(20.0, (lastRow - axis.fromRow) * 0.02)));
  if (!(axis.toRow > axis.fromRow)) {
    std::fprintf(stderr, "demotool: track plot: --to must come after --from\n");
    return ExitUsage;
  }

  double height = TopMargin + BottomMargin - LaneGap;
  for (const PlotTrack& track : tracks) height += (track.name == ControlTrackName ? ControlLaneHeight : LaneHeight) + LaneGap;
  const std::string title = std::filesystem::path(source).filename().string() + ": " +
                            FormatShowTime(axis.fromRow / RowsPerSecond) + " to " +
                            FormatShowTime(axis.toRow / RowsPerSecond) + " (rows " + Number(axis.fromRow) + " to " +
                            Number(axis.toRow) + ")";

  std::string error;
  PendingFile file;
  if (!CreatePendingFile(output, file, error)) {
    std::fprintf(stderr, "demotool: track plot: %s\n", error.c_str());
    return ExitUsage;
  }
  cairo_surface_t* surface =
      svg ? cairo_svg_surface_create(file.tempPath.c_str(), Width, height)
          : cairo_image_surface_create(CAIRO_FORMAT_RGB24, static_cast<int>(Width), static_cast<int>(std::ceil(height)));
  cairo_status_t status = cairo_surface_status(surface);
  if (status == CAIRO_STATUS_SUCCESS) status = Draw(surface, tracks, axis, title, height);
  if (status == CAIRO_STATUS_SUCCESS && !svg) status = cairo_surface_write_to_png(surface, file.tempPath.c_str());
  cairo_surface_finish(surface);
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
  const bool ok = status == CAIRO_STATUS_SUCCESS;
  const std::string why = cairo_status_to_string(status);
  cairo_surface_destroy(surface);
  if (!ok) {
    DiscardPendingFile(file);
    std::fprintf(stderr, "demotool: track plot: cannot write '%s': %s\n", output.c_str(), why.c_str());
    return ExitUsage;
  }
  if (!CommitPendingFile(file, error)) {
    std::fprintf(stderr, "demotool: track plot: %s\n", error.c_str());
    return ExitUsage;
  }
  std::printf("%s: %zu track(s), %s to %s\n", output.c_str(), tracks.size(), FormatShowTime(axis.fromRow / RowsPerSecond).c_str(),
              FormatShowTime(axis.toRow / RowsPerSecond).c_str());
  return 0;
}
