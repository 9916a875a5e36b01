#include "PlotLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "render/FramePlan.h"
#include "show/ShowTable.h"
#include "sync/MusicClock.h"

namespace {

constexpr double NameX = 8.0;  // track names flush left, value labels flush with the lanes
constexpr double TopMargin = 64.0;
constexpr double BottomMargin = 44.0;
constexpr double LaneHeight = 64.0;
constexpr double ControlLaneHeight = 124.0;  // room for three rows of code labels
constexpr double LaneGap = 10.0;
// Beats closer than this many pixels are thinned to bars, then left out.
constexpr double NarrowestBeat = 6.0;

constexpr PlotColour Ink{31, 31, 36};
constexpr PlotColour Faint{219, 222, 230};
constexpr PlotColour CurveColour{26, 82, 191};
constexpr PlotColour EndColour{204, 26, 26};
constexpr PlotColour BeatColour{240, 232, 208};
constexpr PlotColour BarColour{226, 212, 170};
constexpr PlotColour MarkColour{0, 128, 128};
constexpr PlotColour KindColours[] = {{140, 51, 153}, {26, 140, 64}, {230, 128, 0}, {204, 26, 77}};

double AxisWidth() { return PlotWidth - PlotLeftMargin - PlotRightMargin; }
int SampleCount() { return static_cast<int>(AxisWidth() * PlotSamplesPerPixel); }

// Builds the item list; each call appends one item.
class Drawing {
 public:
  explicit Drawing(PlotPicture& picture) : picture_(picture) {}

  void Line(PlotRole role, PlotColour colour, double width, std::vector<PlotPoint> points) {
    picture_.items.push_back({PlotShape::Lines, role, colour, std::move(points), width, {}, 0.0, 0.0});
  }
  void Polygon(PlotRole role, PlotColour colour, std::vector<PlotPoint> points) {
    picture_.items.push_back({PlotShape::Polygon, role, colour, std::move(points), 0.0, {}, 0.0, 0.0});
  }
  void Disc(PlotRole role, PlotColour colour, PlotPoint centre, double radius) {
    picture_.items.push_back({PlotShape::Disc, role, colour, {centre}, radius, {}, 0.0, 0.0});
  }
  void Text(PlotRole role, PlotColour colour, double x, double y, std::string text, double size, double align = 0.0) {
    picture_.items.push_back({PlotShape::Text, role, colour, {{x, y}}, 0.0, std::move(text), size, align});
  }

 private:
  PlotPicture& picture_;
};

// A key's mark: square for step, circle for linear, diamond for smooth,
// triangle for ramp, a cross for a kind the demo evaluates as 0.
void KeyMark(Drawing& d, double x, double y, int32_t kind, PlotRole role) {
  const double r = 3.5;
  if (kind < KindStep || kind > KindRamp) {
    d.Line(role, Ink, 1.2, {{x - r, y - r}, {x + r, y + r}});
    d.Line(role, Ink, 1.2, {{x - r, y + r}, {x + r, y - r}});
    return;
  }
  const PlotColour colour = KindColours[kind];
  switch (kind) {
    case KindStep: d.Polygon(role, colour, {{x - r, y - r}, {x + r, y - r}, {x + r, y + r}, {x - r, y + r}}); break;
    case KindLinear: d.Disc(role, colour, {x, y}, r); break;
    case KindSmooth: d.Polygon(role, colour, {{x, y - r - 1}, {x + r + 1, y}, {x, y + r + 1}, {x - r - 1, y}}); break;
    default: d.Polygon(role, colour, {{x, y - r - 1}, {x + r + 1, y + r}, {x - r - 1, y + r}});
  }
}

void Legend(Drawing& d) {
  double x = PlotWidth - PlotRightMargin - 430;
  const double y = 18;
  const char* names[] = {"step", "linear", "smooth", "ramp", "other kind (0.0)"};
  for (int kind = 0; kind < 5; ++kind) {
    KeyMark(d, x, y - 4, kind < 4 ? kind : 100, PlotRole::Legend);
    d.Text(PlotRole::Legend, Ink, x + 8, y, names[kind], 11);
    x += 70;
  }
}

void Axis(Drawing& d, const PlotRange& range, double top, double bottom) {
  for (const PlotTick& tick : PlotTicks(range)) {
    const double x = std::round(tick.x) + 0.5;
    d.Line(PlotRole::Grid, Faint, 1.0, {{x, top}, {x, bottom}});
    d.Text(PlotRole::TimeLabel, Ink, x, top - 6, tick.time, 11, 0.5);
    d.Text(PlotRole::RowLabel, Ink, x, bottom + 14, tick.rowLabel, 10, 0.5);
  }
  d.Text(PlotRole::AxisName, Ink, NameX, top - 6, "time", 11);
  d.Text(PlotRole::AxisName, Ink, NameX, bottom + 14, "row", 10);
}

// The beats of the text's tempo lines: each tempo from its row (with a beat
// there) to the next one's. Beats too close together to tell apart are
// thinned to every fourth, then left out.
void Beats(Drawing& d, const PlotRange& range, const std::vector<TrackTempo>& tempos, double top, double bottom) {
  const double pixelsPerRow = AxisWidth() / (range.toRow - range.fromRow);
  for (std::size_t i = 0; i < tempos.size(); ++i) {
    const double rowsPerBeat = 60.0 / tempos[i].bpm * RowsPerSecond;
    // Up to the next tempo's own beat, or to the end of the range.
    const double next = i + 1 < tempos.size() ? tempos[i + 1].row : INFINITY;
    int every = 1;
    if (rowsPerBeat * pixelsPerRow < NarrowestBeat) every = 4;
    if (rowsPerBeat * every * pixelsPerRow < NarrowestBeat) continue;
    const double start = tempos[i].row;
    // The first beat at or after the range, counted from the tempo's own row.
    double k = std::max(0.0, std::ceil((range.fromRow - start) / rowsPerBeat - 1e-9));
    k = std::ceil(k / every - 1e-9) * every;
    for (;; k += every) {
      const double row = start + k * rowsPerBeat;
      if (row >= next - 1e-9 || row > range.toRow + 1e-9) break;
      const double x = std::round(PlotX(range, row)) + 0.5;
      const bool bar = static_cast<long long>(k) % 4 == 0;
      d.Line(PlotRole::Beat, bar ? BarColour : BeatColour, 1.0, {{x, top}, {x, bottom}});
    }
  }
}

// The text's marks: a line across the lanes and the name beneath the rows,
// left out where it would run into the name before it.
void Marks(Drawing& d, const PlotRange& range, const std::vector<TrackMark>& marks, double top, double bottom,
           double nameY) {
  double free = -1e9;
  for (const TrackMark& mark : marks) {
    if (mark.row < range.fromRow || mark.row > range.toRow) continue;
    const double x = std::round(PlotX(range, mark.row)) + 0.5;
    d.Line(PlotRole::Mark, MarkColour, 1.0, {{x, top}, {x, bottom}});
    if (x < free) continue;
    d.Text(PlotRole::Mark, MarkColour, x + 2, nameY, mark.name, 10);
    free = x + 2 + PlotTextWidth(mark.name, 10) + 6;
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

// The curve, the key marks and the lane's frame; the control lane also gets a
// label at each change of code.
void Lane(Drawing& d, const PlotTrack& plotTrack, const PlotRange& range, double top, double height) {
  const Track& track = plotTrack.track;
  const bool control = plotTrack.name == ControlTrackName;
  const int samples = SampleCount();
  std::vector<double> rows(samples + 1);
  std::vector<float> values(samples + 1);
  float low = INFINITY, high = -INFINITY;
  for (int i = 0; i <= samples; ++i) {
    rows[i] = range.fromRow + (range.toRow - range.fromRow) * i / samples;
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
  // A flat track is drawn across the middle of its lane.
  if (topValue - bottomValue < 1e-6) {
    bottomValue -= 1.0;
    topValue += 1.0;
  }
  const double curveTop = top + (control ? 44.0 : 8.0);
  const double curveBottom = top + height - 8.0;
  auto y = [&](double v) {
    return std::clamp(curveBottom - (v - bottomValue) / (topValue - bottomValue) * (curveBottom - curveTop), curveTop,
                      curveBottom);
  };

  const double left = PlotLeftMargin + 0.5, right = PlotLeftMargin + 0.5 + AxisWidth();
  d.Line(PlotRole::Frame, Faint, 1.0,
         {{left, top + 0.5}, {right, top + 0.5}, {right, top + 0.5 + height}, {left, top + 0.5 + height},
          {left, top + 0.5}});
  d.Text(PlotRole::TrackName, Ink, NameX, top + height / 2 + 4, plotTrack.name, 13);
  if (track.keyCount == 0) d.Text(PlotRole::TrackName, Ink, NameX, top + height / 2 + 18, "no keys: 0", 9);
  d.Text(PlotRole::RangeLabel, Ink, PlotLeftMargin - 4, curveTop + 4, PlotNumber(high), 9, 1.0);
  d.Text(PlotRole::RangeLabel, Ink, PlotLeftMargin - 4, curveBottom, PlotNumber(low), 9, 1.0);

  // One polyline per stretch of finite values; a point in the middle of a
  // level run adds nothing and is left out.
  std::vector<PlotPoint> run;
  auto flush = [&] {
    if (!run.empty()) d.Line(PlotRole::Curve, CurveColour, 1.5, std::move(run));
    run.clear();
  };
  for (int i = 0; i <= samples; ++i) {
    if (!std::isfinite(values[i])) {
      flush();
      continue;
    }
    const PlotPoint p{PlotX(range, rows[i]), y(values[i])};
    const std::size_t n = run.size();
    if (n >= 2 && run[n - 1].y == p.y && run[n - 2].y == p.y)
      run[n - 1] = p;
    else
      run.push_back(p);
  }
  flush();
  for (int32_t k = 0; k < track.keyCount; ++k) {
    const TrackKey& key = track.keys[k];
    if (key.row < range.fromRow || key.row > range.toRow) continue;
    const float value = TrackValue(&track, key.row);
    if (std::isfinite(value)) KeyMark(d, PlotX(range, key.row), y(value), key.kind, PlotRole::KeyMark);
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
    const double x = PlotX(range, rows[i]);
    const std::string label = ControlLabel(code);
    const double width = PlotTextWidth(label, 10);
    // A label that would run off the picture ends at its line instead.
    const bool before = x + 2 + width > PlotWidth - 2;
    const double start = before ? x - 2 - width : x;
    int row = labelRow;
    for (int tries = 0; tries < 3 && start < lastX[row]; ++tries) row = (row + 1) % 3;
    labelRow = (row + 1) % 3;
    lastX[row] = before ? x + 6 : x + width + 6;
    const double labelY = top + 13 + 12 * row;
    const PlotColour colour = code == EndOfShowCode ? EndColour : Ink;
    d.Line(PlotRole::CodeLabel, colour, 0.5, {{x + 0.5, labelY + 2}, {x + 0.5, curveTop}});
    d.Text(PlotRole::CodeLabel, colour, before ? x - 2 : x + 2, labelY, label, 10, before ? 1.0 : 0.0);
  }
}

// The first row (from the sampled ones) whose control code ends the show.
bool EndRow(const PlotTrack& control, const PlotRange& range, double& endRow) {
  const int samples = SampleCount();
  for (int i = 0; i <= samples; ++i) {
    const double row = range.fromRow + (range.toRow - range.fromRow) * i / samples;
    if (TruncateTrackValue(TrackValue(&control.track, row)) == EndOfShowCode) {
      endRow = row;
      return true;
    }
  }
  return false;
}

// Advances of Liberation Sans (and Arial) in thousandths of the font size,
// for the printable ASCII characters from the space on.
constexpr short AsciiAdvances[95] = {
    278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,  //  !"#$%&'()*+,-./
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,  // 0-9 :;<=>?
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,  // @A-O
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,   // P-Z [\]^_
    333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,   // `a-o
    556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584,        // p-z {|}~
};

// "m:ss", or "m:ss.ff" for steps under a second: as show times are written,
// and as far out as a row goes (show times stop at ten days).
std::string TickTime(double seconds, bool whole) {
  // Whole hundredths, with a nudge so that a tick stored just below one
  // (0.29999...) reads as it (0.30).
  const long long hundredths = static_cast<long long>(std::floor(std::max(0.0, seconds) * 100.0 + 1e-6));
  char text[48];
  if (whole)
    std::snprintf(text, sizeof text, "%lld:%02lld", hundredths / 6000, hundredths % 6000 / 100);
  else
    std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", hundredths / 6000, hundredths % 6000 / 100, hundredths % 100);
  return text;
}

}  // namespace

double PlotTickSeconds(double seconds) {
  // Steps a clock reads well up to twenty minutes, then 1, 2 and 5 times a
  // power of ten, so that a key far out (row 2^31 is three years in) gives no
  // more labels.
  static const double steps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1200};
  for (double step : steps)
    if (seconds / step <= 20.0) return step;
  for (double decade = 1000.0;; decade *= 10.0) {
    for (double step : {2 * decade, 5 * decade, 10 * decade})
      if (seconds / step <= 20.0) return step;
  }
}

double PlotX(const PlotRange& range, double row) {
  return PlotLeftMargin + (row - range.fromRow) / (range.toRow - range.fromRow) * AxisWidth();
}

std::vector<PlotTick> PlotTicks(const PlotRange& range) {
  std::vector<PlotTick> ticks;
  const double seconds = (range.toRow - range.fromRow) / RowsPerSecond;
  const double step = PlotTickSeconds(seconds);
  // Counted in steps from zero rather than added up, so that no rounding
  // error creeps in from tick to tick.
  const double first = std::ceil(range.fromRow / RowsPerSecond / step - 1e-9);
  for (double n = first;; n += 1.0) {
    const double s = n * step;
    const double row = s * RowsPerSecond;
    if (row > range.toRow + 1e-6) break;
    ticks.push_back({row, PlotX(range, row), TickTime(s, step >= 1.0), ""});
    // Every tick is on a whole row; written out in full, so that ticks far
    // into the show (r2147483000, r2147483040) still read apart.
    char rowText[32];
    std::snprintf(rowText, sizeof rowText, "r%.0f", std::round(row) + 0.0);
    ticks.back().rowLabel = rowText;
  }
  return ticks;
}

PlotRange DefaultPlotRange(const std::vector<PlotTrack>& tracks, double fromRow, bool haveTo, double toRow) {
  // Everything up to the last key, and a little beyond so that it shows.
  int32_t lastRow = 0;
  for (const PlotTrack& track : tracks)
    if (!track.keys.empty()) lastRow = std::max(lastRow, track.keys.back().row);
  PlotRange range{fromRow, toRow};
  if (!haveTo) range.toRow = std::max(fromRow + 200.0, lastRow + std::max(20.0, (lastRow - fromRow) * 0.02));
  return range;
}

double PlotTextWidth(const std::string& text, double size) {
  double thousandths = 0.0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f)
      thousandths += AsciiAdvances[c - 0x20];
    else if ((c & 0xc0) != 0x80)  // the first byte of any other character
      thousandths += 556;
  }
  return thousandths * size / 1000.0;
}

bool IsPlotText(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      if (c < 0x20 || c == 0x7f) return false;
      ++i;
      continue;
    }
    int more;
    uint32_t code;
    if ((c & 0xe0) == 0xc0) {
      more = 1, code = c & 0x1f;
    } else if ((c & 0xf0) == 0xe0) {
      more = 2, code = c & 0x0f;
    } else if ((c & 0xf8) == 0xf0) {
      more = 3, code = c & 0x07;
    } else {
      return false;
    }
    if (i + more >= text.size()) return false;
    for (int k = 1; k <= more; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xc0) != 0x80) return false;
      code = code << 6 | (next & 0x3f);
    }
    // Overlong forms, surrogates and code points beyond Unicode, and the C1
    // control characters.
    static const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
    if (code < least[more] || (code >= 0xd800 && code <= 0xdfff) || code > 0x10ffff || code < 0xa0) return false;
    i += more + 1;
  }
  return true;
}

std::string PlotNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", value + 0.0);  // + 0.0: no "-0"
  if (std::string(text) == "-0") return "0";
  return text;
}

PlotPicture LayOutPlot(const std::vector<PlotTrack>& tracks, const PlotRange& range, const std::string& title,
                       const TrackTextNotes* notes) {
  PlotPicture picture;
  double height = TopMargin + BottomMargin - LaneGap;
  for (const PlotTrack& track : tracks)
    height += (track.name == ControlTrackName ? ControlLaneHeight : LaneHeight) + LaneGap;
  picture.width = PlotWidth;
  picture.height = static_cast<int>(std::ceil(height));

  Drawing d(picture);
  d.Text(PlotRole::Title, Ink, PlotLeftMargin, 22, title, 14);
  Legend(d);
  const double top = TopMargin, bottom = height - BottomMargin;
  if (notes) Beats(d, range, notes->tempos, top - 4, bottom + 4);
  Axis(d, range, top - 4, bottom + 4);
  double laneTop = top;
  const PlotTrack* control = nullptr;
  for (const PlotTrack& track : tracks) {
    const bool isControl = track.name == ControlTrackName;
    if (isControl) control = &track;
    const double laneHeight = isControl ? ControlLaneHeight : LaneHeight;
    Lane(d, track, range, laneTop, laneHeight);
    laneTop += laneHeight + LaneGap;
  }
  if (notes) Marks(d, range, notes->marks, top - 4, bottom + 4, height - 10);
  double end = 0.0;
  if (control && EndRow(*control, range, end)) {
    const double x = PlotX(range, end);
    d.Line(PlotRole::EndLine, EndColour, 1.5, {{x, top - 4}, {x, bottom + 4}});
  }
  return picture;
}
