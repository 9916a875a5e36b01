// The plot as PNG through GDI+ (Windows), which every Windows since XP ships:
// the layout's items drawn in order on white, anti-aliased, with pixel
// centres at half coordinates as cairo has them, text in Arial (the advances
// the layout measures by), and the PNG encoder of GDI+ writing to memory.
#include <windows.h>
#include <objidl.h>
#include <gdiplus.h>

#include <map>
#include <string>
#include <vector>

#include "PlotLayout.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

std::string StatusText(GpStatus status) {
  switch (status) {
    case OutOfMemory: return "out of memory";
    case InvalidParameter: return "invalid parameter";
    case FontFamilyNotFound: return "no sans-serif font";
    case NotImplemented: return "not implemented by this system's GDI+";
    case Win32Error: return "a system call failed";
    case GdiplusNotInitialized: return "GDI+ could not start";
    default: return "GDI+ status " + std::to_string(static_cast<int>(status));
  }
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

ARGB Argb(PlotColour c) { return 0xff000000u | ARGB(c.r) << 16 | ARGB(c.g) << 8 | ARGB(c.b); }

std::vector<PointF> Points(const std::vector<PlotPoint>& points) {
  std::vector<PointF> out;
  for (const PlotPoint& p : points) out.push_back(PointF(static_cast<REAL>(p.x), static_cast<REAL>(p.y)));
  return out;
}

// Everything one drawing holds, released in the right order whatever fails.
class Canvas {
 public:
  ~Canvas() {
    for (auto& font : fonts_) GdipDeleteFont(font.second);
    if (family_) GdipDeleteFontFamily(family_);
    if (graphics_) GdipDeleteGraphics(graphics_);
    if (bitmap_) GdipDisposeImage(bitmap_);
  }

  GpStatus Open(int width, int height) {
    GpStatus s = GdipCreateBitmapFromScan0(width, height, 0, PixelFormat24bppRGB, nullptr, &bitmap_);
    if (s == Ok) s = GdipGetImageGraphicsContext(bitmap_, &graphics_);
    if (s == Ok) s = GdipGraphicsClear(graphics_, 0xffffffffu);
    if (s == Ok) s = GdipSetSmoothingMode(graphics_, SmoothingModeAntiAlias);
    if (s == Ok) s = GdipSetPixelOffsetMode(graphics_, PixelOffsetModeHalf);
    if (s == Ok) s = GdipSetTextRenderingHint(graphics_, TextRenderingHintAntiAlias);
    // Arial on every Windows; its metric twin where Wine stands in for it.
    for (const wchar_t* name : {L"Arial", L"Liberation Sans", L"Helvetica", L"DejaVu Sans", L"Tahoma"})
      if (s == Ok && !family_ && GdipCreateFontFamilyFromName(name, nullptr, &family_) != Ok) family_ = nullptr;
    if (s == Ok && !family_) s = GdipGetGenericFontFamilySansSerif(&family_);
    UINT16 em = 0, ascent = 0;
    if (s == Ok) s = GdipGetEmHeight(family_, FontStyleRegular, &em);
    if (s == Ok) s = GdipGetCellAscent(family_, FontStyleRegular, &ascent);
    if (s == Ok) ascentPerPixel_ = em ? static_cast<double>(ascent) / em : 0.9;
    // No padding around the text, unlike the default format: x is where the
    // text starts, as in cairo and SVG.
    if (s == Ok) s = GdipStringFormatGetGenericTypographic(&format_);
    return s;
  }

  GpStatus Draw(const PlotItem& item) {
    switch (item.shape) {
      case PlotShape::Lines: {
        GpPen* pen = nullptr;
        GpStatus s = GdipCreatePen1(Argb(item.colour), static_cast<REAL>(item.width), UnitPixel, &pen);
        if (s == Ok) s = GdipSetPenLineJoin(pen, LineJoinRound);
        // The stroke's outline, filled: the same shape as GdipDrawLines
        // gives, and anti-aliased by every GDI+ that anti-aliases fills.
        const std::vector<PointF> points = Points(item.points);
        GpPath* path = nullptr;
        if (s == Ok) s = GdipCreatePath(FillModeWinding, &path);
        if (s == Ok) s = GdipAddPathLine2(path, points.data(), static_cast<INT>(points.size()));
        if (s == Ok) s = GdipWidenPath(path, pen, nullptr, 0.1f);
        GpSolidFill* brush = nullptr;
        if (s == Ok) s = GdipCreateSolidFill(Argb(item.colour), &brush);
        if (s == Ok) s = GdipFillPath(graphics_, brush, path);
        if (brush) GdipDeleteBrush(brush);
        if (path) GdipDeletePath(path);
        if (pen) GdipDeletePen(pen);
        return s;
      }
      case PlotShape::Polygon:
      case PlotShape::Disc:
      case PlotShape::Text: break;
    }
    GpSolidFill* brush = nullptr;
    GpStatus s = GdipCreateSolidFill(Argb(item.colour), &brush);
    if (s == Ok) s = Fill(item, brush);
    if (brush) GdipDeleteBrush(brush);
    return s;
  }

  GpStatus SavePng(std::string& png) {
    UINT count = 0, size = 0;
    GpStatus s = GdipGetImageEncodersSize(&count, &size);
    if (s != Ok) return s;
    std::vector<unsigned char> buffer(size);
    auto* codecs = reinterpret_cast<ImageCodecInfo*>(buffer.data());
    if ((s = GdipGetImageEncoders(count, size, codecs)) != Ok) return s;
    const CLSID* encoder = nullptr;
    for (UINT i = 0; i < count; ++i)
      if (codecs[i].MimeType && std::wstring(codecs[i].MimeType) == L"image/png") encoder = &codecs[i].Clsid;
    if (!encoder) return NotImplemented;
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(nullptr, TRUE, &stream) != S_OK) return OutOfMemory;
    s = GdipSaveImageToStream(bitmap_, stream, encoder, nullptr);
    STATSTG stat{};
    HGLOBAL memory = nullptr;
    if (s == Ok && (stream->Stat(&stat, STATFLAG_NONAME) != S_OK || GetHGlobalFromStream(stream, &memory) != S_OK))
      s = Win32Error;
    if (s == Ok) {
      const void* bytes = GlobalLock(memory);
      if (bytes)
        png.assign(static_cast<const char*>(bytes), static_cast<size_t>(stat.cbSize.QuadPart));
      else
        s = Win32Error;
      GlobalUnlock(memory);
    }
    stream->Release();
    return s;
  }

 private:
  GpStatus Fill(const PlotItem& item, GpSolidFill* brush) {
    if (item.shape == PlotShape::Polygon) {
      const std::vector<PointF> points = Points(item.points);
      return GdipFillPolygon(graphics_, brush, points.data(), static_cast<INT>(points.size()), FillModeAlternate);
    }
    if (item.shape == PlotShape::Disc) {
      const REAL r = static_cast<REAL>(item.width);
      return GdipFillEllipse(graphics_, brush, static_cast<REAL>(item.points[0].x) - r,
                             static_cast<REAL>(item.points[0].y) - r, 2 * r, 2 * r);
    }
    if (item.text.empty()) return Ok;
    GpFont* font = nullptr;
    GpStatus s = Font(item.size, font);
    if (s != Ok) return s;
    const std::wstring text = Wide(item.text);
    // Placed by its left edge and top: GDI+ has no baseline origin, so the
    // top is the baseline less the face's ascent at this size.
    RectF bounds{}, at(0, 0, 0, 0);
    if (item.align != 0.0) {
      s = GdipMeasureString(graphics_, text.c_str(), static_cast<INT>(text.size()), font, &at, format_, &bounds, nullptr,
                            nullptr);
      if (s != Ok) return s;
    }
    const RectF place(static_cast<REAL>(item.points[0].x - bounds.Width * item.align),
                      static_cast<REAL>(item.points[0].y - item.size * ascentPerPixel_), 0, 0);
    return GdipDrawString(graphics_, text.c_str(), static_cast<INT>(text.size()), font, &place, format_, brush);
  }

  GpStatus Font(double size, GpFont*& font) {
    auto found = fonts_.find(size);
    if (found != fonts_.end()) {
      font = found->second;
      return Ok;
    }
    const GpStatus s = GdipCreateFont(family_, static_cast<REAL>(size), FontStyleRegular, UnitPixel, &font);
    if (s == Ok) fonts_[size] = font;
    return s;
  }

  GpBitmap* bitmap_ = nullptr;
  GpGraphics* graphics_ = nullptr;
  GpFontFamily* family_ = nullptr;
  GpStringFormat* format_ = nullptr;  // the system's own, never deleted
  double ascentPerPixel_ = 0.9;
  std::map<double, GpFont*> fonts_;
};

}  // namespace

bool PlotToPng(const PlotPicture& picture, std::string& png, std::string& error) {
  png.clear();
  GdiplusStartupInput input;
  ULONG_PTR token = 0;
  GpStatus s = GdiplusStartup(&token, &input, nullptr);
  if (s != Ok) {
    error = "GDI+ does not start: " + StatusText(s);
    return false;
  }
  {
    Canvas canvas;
    s = canvas.Open(picture.width, picture.height);
    for (std::size_t i = 0; s == Ok && i < picture.items.size(); ++i) s = canvas.Draw(picture.items[i]);
    if (s == Ok) s = canvas.SavePng(png);
  }
  GdiplusShutdown(token);
  if (s != Ok) {
    error = StatusText(s);
    png.clear();
    return false;
  }
  return true;
}
