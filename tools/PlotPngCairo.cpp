// The plot as PNG through cairo (Linux): the layout's items drawn in order
// on white, anti-aliased, text in Liberation Sans (Arial's advances, which the
// layout measures by).
#include <cairo.h>

#include <string>

#include "PlotLayout.h"

namespace {

void SetColour(cairo_t* cr, PlotColour c) { cairo_set_source_rgb(cr, c.r / 255.0, c.g / 255.0, c.b / 255.0); }

void Path(cairo_t* cr, const std::vector<PlotPoint>& points) {
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (i == 0)
      cairo_move_to(cr, points[i].x, points[i].y);
    else
      cairo_line_to(cr, points[i].x, points[i].y);
  }
}

void DrawItem(cairo_t* cr, const PlotItem& item) {
  SetColour(cr, item.colour);
  switch (item.shape) {
    case PlotShape::Lines:
      cairo_set_line_width(cr, item.width);
      Path(cr, item.points);
      cairo_stroke(cr);
      break;
    case PlotShape::Polygon:
      Path(cr, item.points);
      cairo_close_path(cr);
      cairo_fill(cr);
      break;
    case PlotShape::Disc:
      cairo_new_path(cr);
      cairo_arc(cr, item.points[0].x, item.points[0].y, item.width, 0, 2 * 3.14159265358979323846);
      cairo_fill(cr);
      break;
    case PlotShape::Text: {
      cairo_set_font_size(cr, item.size);
      cairo_text_extents_t extents;
      cairo_text_extents(cr, item.text.c_str(), &extents);
      cairo_move_to(cr, item.points[0].x - extents.x_advance * item.align, item.points[0].y);
      cairo_show_text(cr, item.text.c_str());
      break;
    }
  }
}

cairo_status_t Append(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool PlotToPng(const PlotPicture& picture, std::string& png, std::string& error) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, picture.width, picture.height);
  cairo_status_t status = cairo_surface_status(surface);
  if (status == CAIRO_STATUS_SUCCESS) {
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    for (const PlotItem& item : picture.items) DrawItem(cr, item);
    // cairo keeps the first drawing error in the context (text that is not
    // UTF-8, for one), not in the surface.
    status = cairo_status(cr);
    cairo_destroy(cr);
  }
  png.clear();
  if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_write_to_png_stream(surface, Append, &png);
  cairo_surface_destroy(surface);
  if (status != CAIRO_STATUS_SUCCESS) {
    error = cairo_status_to_string(status);
    png.clear();
    return false;
  }
  return true;
}
