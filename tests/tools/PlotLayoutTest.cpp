// The plot's layout, which every back end draws as it is: ticks and their
// labels, the scaling of curves into their lanes (flat, single-key, keyless,
// broken and enormous tracks), beats and marks, and the SVG written from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include "PlotLayout.h"

namespace {

PlotTrack Make(const std::string& name, std::vector<TrackKey> keys) {
  PlotTrack track{name, std::move(keys), {}};
  return track;
}

std::vector<const PlotItem*> Find(const PlotPicture& picture, PlotRole role, PlotShape shape) {
  std::vector<const PlotItem*> found;
  for (const PlotItem& item : picture.items)
    if (item.role == role && item.shape == shape) found.push_back(&item);
  return found;
}

TEST(PlotLayoutTest, TicksAreFewRoundAndLabelledWithoutDrift) {
  const struct {
    PlotRange range;
    size_t count;
    const char* firstTime;
    const char* lastTime;
    const char* lastRow;
  } cases[] = {
      {{0, 2693}, 14, "0:00", "2:10", "r2600"},                 // the bundled show: every ten seconds
      {{0, 200}, 21, "0:00.00", "0:10.00", "r200"},            // half seconds, with hundredths
      {{15, 35}, 10, "0:00.80", "0:01.70", "r34"},             // tenths, from the first inside the range
      {{6, 8.5}, 2, "0:00.30", "0:00.40", "r8"},               // a range shorter than a step's worth
      {{0, 2147483647.0}, 11, "0:00", "1666666:40", "r2000000000"},  // three years: still a handful
      {{2147483000.0, 2147483647.0}, 17, "1789569:10", "1789569:42", "r2147483640"},  // and apart
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.range.fromRow) + " to " + std::to_string(c.range.toRow));
    const std::vector<PlotTick> ticks = PlotTicks(c.range);
    ASSERT_FALSE(ticks.empty());
    EXPECT_LE(ticks.size(), 21u);
    EXPECT_EQ(ticks.size(), c.count);
    EXPECT_EQ(ticks.front().time, c.firstTime);
    EXPECT_EQ(ticks.back().time, c.lastTime);
    EXPECT_EQ(ticks.back().rowLabel, c.lastRow);
    for (size_t i = 0; i < ticks.size(); ++i) {
      EXPECT_GE(ticks[i].x, PlotLeftMargin - 1e-9);
      EXPECT_LE(ticks[i].x, PlotWidth - PlotRightMargin + 1e-9);
      if (i == 0) continue;
      EXPECT_GT(ticks[i].x, ticks[i - 1].x + 20) << "ticks crowd together";
      EXPECT_NE(ticks[i].time, ticks[i - 1].time);
      EXPECT_NE(ticks[i].rowLabel, ticks[i - 1].rowLabel);
    }
  }
}

TEST(PlotLayoutTest, CurvesFillTheirLaneWhateverTheirValues) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    const char* what;
    std::vector<TrackKey> keys;
    size_t runs;          // curve polylines: a NaN stretch breaks the curve
    const char* high;     // the range labels
    const char* low;
    bool firstAtBottom;   // else the curve lies across the middle of the lane
    bool noKeysNote;
  } cases[] = {
      {"rising", {{0, 0.0f, KindLinear}, {100, 10.0f, KindStep}}, 1, "10", "0", true, false},
      {"flat", {{0, 5.0f, KindLinear}, {100, 5.0f, KindLinear}}, 1, "5", "5", false, false},
      {"a single key", {{40, -2.5f, KindSmooth}}, 1, "-2.5", "-2.5", false, false},
      {"no keys", {}, 1, "0", "0", false, true},
      {"a NaN step", {{0, 0.0f, KindStep}, {50, nan, KindStep}, {100, 1.0f, KindStep}}, 2, "1", "0", true, false},
      {"enormous", {{0, -3e38f, KindLinear}, {100, 3e38f, KindStep}}, 1, "3e+38", "-3e+38", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PlotTrack> tracks{Make("back.x", c.keys)};
    tracks[0].Bind();
    const PlotPicture picture = LayOutPlot(tracks, {0, 200}, "t");
    EXPECT_EQ(picture.width, PlotWidth);
    EXPECT_EQ(picture.height, 64 + 44 + 64);
    const auto curves = Find(picture, PlotRole::Curve, PlotShape::Lines);
    ASSERT_EQ(curves.size(), c.runs);
    const double laneTop = 64, laneBottom = 64 + 64;
    for (const PlotItem* curve : curves) {
      for (const PlotPoint& p : curve->points) {
        ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
        EXPECT_GE(p.y, laneTop + 8);
        EXPECT_LE(p.y, laneBottom - 8);
        EXPECT_GE(p.x, PlotLeftMargin);
        EXPECT_LE(p.x, PlotWidth - PlotRightMargin + 1e-9);
      }
    }
    const PlotPoint first = curves.front()->points.front();
    EXPECT_DOUBLE_EQ(first.x, PlotLeftMargin);
    EXPECT_DOUBLE_EQ(first.y, c.firstAtBottom ? laneBottom - 8 : (laneTop + laneBottom) / 2);
    // The curve reaches the right edge unless it is broken off there.
    EXPECT_DOUBLE_EQ(curves.back()->points.back().x, PlotWidth - PlotRightMargin);
    const auto labels = Find(picture, PlotRole::RangeLabel, PlotShape::Text);
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0]->text, c.high);
    EXPECT_EQ(labels[1]->text, c.low);
    const auto names = Find(picture, PlotRole::TrackName, PlotShape::Text);
    EXPECT_EQ(names.size(), c.noKeysNote ? 2u : 1u);
  }
}

// A level stretch of the curve is one segment, not a point per sample.
TEST(PlotLayoutTest, ALevelCurveIsAFewPointsAndKeysAreMarkedByKind) {
  std::vector<PlotTrack> tracks{Make("control", {{0, 7, KindStep}, {100, 8, KindStep}, {150, 777, KindStep}}),
                                Make("back.y", {{0, 0, KindLinear}, {10, 1, KindSmooth}, {20, 0, KindRamp},
                                                {30, 1, 9}})};
  for (PlotTrack& t : tracks) t.Bind();
  const PlotPicture picture = LayOutPlot(tracks, {0, 200}, "t");
  EXPECT_EQ(picture.height, 64 + 44 + 124 + 10 + 64);
  const auto curves = Find(picture, PlotRole::Curve, PlotShape::Lines);
  ASSERT_EQ(curves.size(), 2u);
  EXPECT_LE(curves[0]->points.size(), 8u) << "three steps need no more than two points each";
  // The end code is drawn at the top of the lane, not counted in its scale.
  const auto labels = Find(picture, PlotRole::RangeLabel, PlotShape::Text);
  EXPECT_EQ(labels[0]->text, "8");
  const auto ends = Find(picture, PlotRole::EndLine, PlotShape::Lines);
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_DOUBLE_EQ(ends[0]->points[0].x, PlotX({0, 200}, 150));
  std::vector<std::string> codes;
  for (const PlotItem* label : Find(picture, PlotRole::CodeLabel, PlotShape::Text)) codes.push_back(label->text);
  EXPECT_EQ(codes, (std::vector<std::string>{"7: C vorn.gif in", "8: C vorn.gif out", "777: end"}));
  // Every label inside the picture: one at the right edge ends at its line.
  std::vector<PlotTrack> late{Make("control", {{0, 1, KindStep}, {199, 10, KindStep}})};
  late[0].Bind();
  const PlotPicture lateLabels = LayOutPlot(late, {0, 200}, "t");
  for (const PlotItem* label : Find(lateLabels, PlotRole::CodeLabel, PlotShape::Text)) {
    const double left = label->points[0].x - label->align * PlotTextWidth(label->text, label->size);
    EXPECT_GE(left, PlotLeftMargin) << label->text;
    EXPECT_LE(left + PlotTextWidth(label->text, label->size), PlotWidth) << label->text;
  }
  // Square, disc, diamond, triangle, and two strokes for an unknown kind.
  EXPECT_EQ(Find(picture, PlotRole::KeyMark, PlotShape::Polygon).size(), 3u + 2u);
  EXPECT_EQ(Find(picture, PlotRole::KeyMark, PlotShape::Disc).size(), 1u);
  EXPECT_EQ(Find(picture, PlotRole::KeyMark, PlotShape::Lines).size(), 2u);
}

TEST(PlotLayoutTest, TempoLinesGiveBeatsThinnedWhenDenseAndMarksAreNamed) {
  const struct {
    const char* what;
    PlotRange range;
    std::vector<TrackTempo> tempos;
    size_t beats;
  } cases[] = {
      {"120 BPM over ten seconds", {0, 200}, {{120, 0, 1}}, 21},
      {"120 BPM over three minutes: bars only", {0, 3600}, {{120, 0, 1}}, 91},
      {"200 BPM over three hours: none", {0, 216000}, {{200, 0, 1}}, 0},
      {"a change of tempo at row 100", {0, 200}, {{120, 0, 1}, {60, 100, 2}}, 10 + 6},
      {"a range starting between beats", {15, 45}, {{120, 0, 1}}, 3},
      {"a tempo from row 95, off the beat of the range", {0, 200}, {{120, 95, 1}}, 11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<PlotTrack> tracks{Make("back.x", {{0, 1, KindStep}})};
    tracks[0].Bind();
    TrackTextNotes notes;
    notes.tempos = c.tempos;
    notes.marks = {{c.range.fromRow + 1, "drop & <fade>", 3}};
    const PlotPicture picture = LayOutPlot(tracks, c.range, "t", &notes);
    EXPECT_EQ(Find(picture, PlotRole::Beat, PlotShape::Lines).size(), c.beats);
    const auto markNames = Find(picture, PlotRole::Mark, PlotShape::Text);
    ASSERT_EQ(markNames.size(), 1u);
    EXPECT_EQ(markNames[0]->text, "drop & <fade>");
  }
}

TEST(PlotLayoutTest, OnlyUtf8WithoutControlCharactersIsText) {
  const struct {
    std::string text;
    bool ok;
  } cases[] = {
      {"back.x", true},          {"\xce\xa9mega", true},        {"\xf0\x9f\x8e\xb5 drop", true},
      {"caf\xe9", false},        {"\xce", false},               {"a\tb", false},
      {"\x7f", false},           {"\xc0\xaf", false},           {"\xed\xa0\x80", false},
      {"\xf4\x90\x80\x80", false}, {"\xc2\x85", false},         {"", true},
  };
  for (const auto& c : cases) EXPECT_EQ(IsPlotText(c.text), c.ok) << testing::PrintToString(c.text);
}

// The SVG holds one element per item of the layout, each with its role, and
// text that any XML reader takes.
TEST(PlotLayoutTest, SvgHasAnElementPerItemWithEscapedText) {
  std::vector<PlotTrack> tracks{Make("control", {{0, 3, KindStep}}), Make("a<b", {{0, 0, KindLinear}, {9, 1, 1}})};
  for (PlotTrack& t : tracks) t.Bind();
  TrackTextNotes notes;
  notes.marks = {{40, "drop & \"fade\"", 1}};
  const PlotPicture picture = LayOutPlot(tracks, {0, 200}, "show: 0:00.00 to 0:10.00", &notes);
  const std::string svg = PlotToSvg(picture);
  EXPECT_EQ(svg.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg ", 0), 0u);
  EXPECT_NE(svg.find("width=\"1600\" height=\"" + std::to_string(picture.height) + "\""), std::string::npos);
  const std::regex element("<(polyline|polygon|circle|text) class=\"[a-z-]+\"");
  const auto count = std::distance(std::sregex_iterator(svg.begin(), svg.end(), element), std::sregex_iterator());
  EXPECT_EQ(static_cast<size_t>(count), picture.items.size());
  EXPECT_NE(svg.find(">a&lt;b</text>"), std::string::npos);
  EXPECT_NE(svg.find(">drop &amp; &quot;fade&quot;</text>"), std::string::npos);
  EXPECT_EQ(svg.find("a<b"), std::string::npos);
  // Every number a plain decimal: no exponent, no "-0", no "nan".
  const std::regex numbers(" (?:points|x|y|cx|cy|r|font-size|stroke-width)=\"([^\"]*)\"");
  const std::regex plain("-?(0|[1-9][0-9]*)(\\.[0-9]*[1-9])?");
  const std::regex separator("[ ,]");
  int checked = 0;
  for (auto m = std::sregex_iterator(svg.begin(), svg.end(), numbers); m != std::sregex_iterator(); ++m) {
    const std::string list = (*m)[1];
    for (auto n = std::sregex_token_iterator(list.begin(), list.end(), separator, -1);
         n != std::sregex_token_iterator(); ++n, ++checked) {
      EXPECT_TRUE(std::regex_match(n->str(), plain) && n->str() != "-0") << n->str();
    }
  }
  EXPECT_GT(checked, 300);
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
}

}  // namespace
