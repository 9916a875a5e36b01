// The picture of demotool track plot as a list of things to draw, in pixels:
// where every line, curve, mark and label goes is decided here once, and each
// back end (PNG through cairo or GDI+, SVG as text) only draws the list. The
// plots of one show are then the same size with the same ticks and labels on
// every platform.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "TrackSources.h"
#include "sync/TrackText.h"

struct PlotColour {
  uint8_t r, g, b;
  bool operator==(const PlotColour&) const = default;
};

struct PlotPoint {
  double x, y;
};

enum class PlotShape {
  Lines,    // an open polyline, stroked width pixels wide
  Polygon,  // a closed polygon, filled
  Disc,     // a filled circle about points[0], width being its radius
  Text,     // text with its baseline at points[0], anchored by align
};

// What an item is, so that a back end may name it (SVG classes) and a test or
// a comparison may find it.
enum class PlotRole {
  Title,
  Legend,
  Grid,        // a tick's faint line across the lanes
  TimeLabel,   // a tick's time, above the lanes
  RowLabel,    // a tick's row, below the lanes
  AxisName,    // "time", "row"
  Frame,       // a lane's frame
  TrackName,
  RangeLabel,  // the highest and lowest value of a lane
  Curve,
  KeyMark,
  CodeLabel,   // the control lane's label at a change of code, and its line
  EndLine,     // the show's end (code 777)
  Beat,        // a beat or bar of the text's tempo lines
  Mark,        // a mark line of the text, and its name
};

struct PlotItem {
  PlotShape shape;
  PlotRole role;
  PlotColour colour;
  std::vector<PlotPoint> points;
  double width = 1.0;   // stroke width, or a disc's radius
  std::string text;     // Text: UTF-8
  double size = 0.0;    // Text: font size in pixels
  double align = 0.0;   // Text: 0 starts at x, 0.5 centred on x, 1 ends at x
};

struct PlotPicture {
  int width = 0, height = 0;
  std::vector<PlotItem> items;  // in drawing order, over a white background
};

// The stretch of the show to draw, in rows (toRow > fromRow).
struct PlotRange {
  double fromRow = 0.0, toRow = 0.0;
};

// One tick of the time axis: where it is and what it says.
struct PlotTick {
  double row;
  double x;
  std::string time;  // "0:20", or "0:20.50" for steps under a second
  std::string rowLabel;  // "r400"
};

inline constexpr int PlotWidth = 1600;
inline constexpr double PlotLeftMargin = 150.0;
inline constexpr double PlotRightMargin = 24.0;
// Curves are sampled this many times per pixel of the axis.
inline constexpr double PlotSamplesPerPixel = 2.0;

// The range a plot of these tracks takes when --from and --to do not say:
// from the start (or fromRow) to a little beyond the last key.
PlotRange DefaultPlotRange(const std::vector<PlotTrack>& tracks, double fromRow, bool haveTo, double toRow);

// A seconds step that puts at most twenty ticks on an axis this long.
double PlotTickSeconds(double seconds);

// The axis's ticks for a range, at most 21.
std::vector<PlotTick> PlotTicks(const PlotRange& range);

// The x of a row across the picture.
double PlotX(const PlotRange& range, double row);

// How wide text is drawn at size pixels, by the advances of a sans-serif
// face metric-compatible with the one the back ends ask for (Liberation Sans,
// Arial). Used to keep labels from running into one another; it is the same
// on every platform, so the labels land in the same places everywhere.
double PlotTextWidth(const std::string& text, double size);

// Whether text can be drawn: valid UTF-8 without control characters. Track
// names and mark names from a file may be anything.
bool IsPlotText(const std::string& text);

// "%.4g", never "-0".
std::string PlotNumber(double value);

// The picture of the tracks (bound, see PlotTrack::Bind) over the range, with
// the tempo and mark lines of notes when given, under title. Every text in it
// must pass IsPlotText; the caller checks track and mark names first.
PlotPicture LayOutPlot(const std::vector<PlotTrack>& tracks, const PlotRange& range, const std::string& title,
                       const TrackTextNotes* notes = nullptr);

// The back ends. Each returns the file's bytes, or false with the reason.
// SVG: written by our own code, the same bytes on every platform.
std::string PlotToSvg(const PlotPicture& picture);
// PNG: cairo on Linux, GDI+ on Windows (PlotPng*.cpp).
bool PlotToPng(const PlotPicture& picture, std::string& png, std::string& error);
