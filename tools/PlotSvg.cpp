// The plot as SVG text, written by our own code so that every platform gives
// the same bytes for the same show. Each item carries its role as a class, so
// the curves, ticks and labels can be found in the file.
#include <cmath>
#include <cstdio>
#include <string>

#include "PlotLayout.h"

namespace {

const char* RoleClass(PlotRole role) {
  switch (role) {
    case PlotRole::Title: return "title";
    case PlotRole::Legend: return "legend";
    case PlotRole::Grid: return "grid";
    case PlotRole::TimeLabel: return "time-label";
    case PlotRole::RowLabel: return "row-label";
    case PlotRole::AxisName: return "axis-name";
    case PlotRole::Frame: return "frame";
    case PlotRole::TrackName: return "track-name";
    case PlotRole::RangeLabel: return "range-label";
    case PlotRole::Curve: return "curve";
    case PlotRole::KeyMark: return "key";
    case PlotRole::CodeLabel: return "code-label";
    case PlotRole::EndLine: return "end";
    case PlotRole::Beat: return "beat";
    case PlotRole::Mark: return "mark";
  }
  return "other";
}

// Two decimals at most, without trailing zeros: hundredths of a pixel are
// finer than any screen shows.
std::string Coordinate(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.2f", value);
  std::string s = text;
  while (s.back() == '0') s.pop_back();
  if (s.back() == '.') s.pop_back();
  if (s == "-0") s = "0";
  return s;
}

std::string Colour(PlotColour c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
  return text;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Points(const std::vector<PlotPoint>& points) {
  std::string out;
  for (const PlotPoint& p : points) {
    if (!out.empty()) out += ' ';
    out += Coordinate(p.x) + "," + Coordinate(p.y);
  }
  return out;
}

}  // namespace

std::string PlotToSvg(const PlotPicture& picture) {
  const std::string w = std::to_string(picture.width), h = std::to_string(picture.height);
  std::string svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " +
      h + "\" font-family=\"Liberation Sans, Arial, Helvetica, sans-serif\">\n" +
      "<rect width=\"" + w + "\" height=\"" + h + "\" fill=\"#ffffff\"/>\n";
  for (const PlotItem& item : picture.items) {
    const std::string cls = std::string("class=\"") + RoleClass(item.role) + "\"";
    const std::string colour = Colour(item.colour);
    switch (item.shape) {
      case PlotShape::Lines:
        svg += "<polyline " + cls + " fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"" +
               Coordinate(item.width) + "\" stroke-linejoin=\"round\" points=\"" + Points(item.points) + "\"/>\n";
        break;
      case PlotShape::Polygon:
        svg += "<polygon " + cls + " fill=\"" + colour + "\" points=\"" + Points(item.points) + "\"/>\n";
        break;
      case PlotShape::Disc:
        svg += "<circle " + cls + " fill=\"" + colour + "\" cx=\"" + Coordinate(item.points[0].x) + "\" cy=\"" +
               Coordinate(item.points[0].y) + "\" r=\"" + Coordinate(item.width) + "\"/>\n";
        break;
      case PlotShape::Text: {
        const char* anchor = item.align < 0.25 ? "" : item.align < 0.75 ? " text-anchor=\"middle\"" : " text-anchor=\"end\"";
        svg += "<text " + cls + " fill=\"" + colour + "\" x=\"" + Coordinate(item.points[0].x) + "\" y=\"" +
               Coordinate(item.points[0].y) + "\" font-size=\"" + Coordinate(item.size) + "\"" + anchor + ">" +
               Escaped(item.text) + "</text>\n";
        break;
      }
    }
  }
  svg += "</svg>\n";
  return svg;
}
