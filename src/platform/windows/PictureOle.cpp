// Pictures service on Windows, picture loader backend: OLE automation's
// picture loader (OleLoadPicture over a stream on a global memory block) for
// GIF, JPEG and BMP; IPicture::Render and GDI's StretchDIBits to draw pictures
// and bitmaps into 32-bit bottom-up pixel buffers.
//
// Links: ole32, oleaut32, uuid, gdi32.
//
// OleLoadPicture also takes icons and metafiles; only the three signatures
// the picture loader promises are offered to it, so everything else (PNG
// included) is refused before it is parsed. The loaded picture is a GDI
// bitmap of its own (with a mask where a GIF has a transparent colour), so it
// does not depend on the stream, which is released at once.
//
// GDI draws into device contexts, not into the caller's memory: the part of
// the target under the rectangle is copied into a DIB section of the same
// layout, drawn into, and copied back, so pixels the picture leaves
// transparent keep what the target held. The stretch mode is COLORONCOLOR,
// which picks source pixels (nearest neighbour) instead of merging the rows
// it drops as the default mode does. A picture keeps the thread in a COM
// apartment from its load to its release (joining one when the thread has
// none); pictures are used on the thread that loaded them.
//
// When GDI cannot give the memory to draw in (CreateDIBSection or the
// device context fails, as it does when the system is short of memory or of
// GDI objects), or a copy cannot be allocated, the target keeps what it held
// and one line on stderr says so: without it the texture would be uploaded
// fully transparent without a word.
//
// Limits: what OLE decodes: its GIF gives the first image; its JPEG, no
// CMYK colour management; BMP as the system reads it. Pictures of more than
// MaxPicturePixels are refused. OLE does not say whether a file was whole:
// a cut file may give a picture as far as OLE could read it.
#include "platform/Pictures.h"
#include "platform/windows/PictureOleTesting.h"

// clang-format off
#include <windows.h>
#include <ole2.h>
#include <olectl.h>
// clang-format on

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "platform/Messages.h"

struct Picture {
  IPicture* picture = nullptr;
  bool joinedCom = false;  // this picture's CoInitializeEx, undone on release
  int width = 0;   // pixels
  int height = 0;
  OLE_XSIZE_HIMETRIC himetricWidth = 0;
  OLE_YSIZE_HIMETRIC himetricHeight = 0;
  bool transparent = false;  // drawn through a mask: some pixels are left alone
};

namespace {

bool drawingFails = false;

// 256 Mi pixels (1 GiB of BGRA): far beyond any picture the demo ships.
constexpr uint64_t MaxPicturePixels = uint64_t(1) << 28;

bool OfferedToOle(const uint8_t* data, size_t size) {
  if (!data || size < 6) return false;
  if (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0) return true;
  if (data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return true;
  return data[0] == 'B' && data[1] == 'M';
}

// A stream over a copy of the bytes, on a movable global block that the
// stream frees when it is released.
IStream* StreamOverCopy(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFFu) return nullptr;
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return nullptr;
  void* bytes = GlobalLock(block);
  if (!bytes) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(bytes, data, size);
  GlobalUnlock(block);
  IStream* stream = nullptr;
  if (CreateStreamOnHGlobal(block, TRUE, &stream) != S_OK) {
    GlobalFree(block);
    return nullptr;
  }
  return stream;
}

// The part of a pixel target under a rectangle, as a DIB section GDI can
// draw into, with the rectangle's drawing coordinates in it.
class TargetWindow {
 public:
  TargetWindow(const PixelTarget& target, const TargetRect& rect) : target_(target) {
    if (!target.pixels || target.width <= 0 || target.height <= 0) return;
    if (rect.right <= rect.left || rect.bottom <= rect.top) return;
    x0_ = std::max(rect.left, 0);
    y0_ = std::max(rect.top, 0);
    const int x1 = std::min(rect.right, target.width);
    const int y1 = std::min(rect.bottom, target.height);
    if (x0_ >= x1 || y0_ >= y1) return;
    width_ = x1 - x0_;
    height_ = y1 - y0_;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width_;
    info.bmiHeader.biHeight = height_;  // bottom-up, as the target
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    if (!dc_) {
      Fail("CreateCompatibleDC");
      return;
    }
    if (drawingFails) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else {
      dib_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits_), nullptr, 0);
    }
    if (!dib_ || !bits_) {
      Fail("CreateDIBSection");
      return;
    }
    old_ = SelectObject(dc_, dib_);
    SetStretchBltMode(dc_, COLORONCOLOR);
    left_ = rect.left - x0_;
    top_ = rect.top - y0_;
    ready_ = true;
  }
  ~TargetWindow() {
    if (old_) SelectObject(dc_, old_);
    if (dib_) DeleteObject(dib_);
    if (dc_) DeleteDC(dc_);
  }
  TargetWindow(const TargetWindow&) = delete;
  TargetWindow& operator=(const TargetWindow&) = delete;

  bool Ready() const { return ready_; }
  HDC Dc() const { return dc_; }
  // Where the rectangle's top left lies in the window (0 or negative).
  int Left() const { return left_; }
  int Top() const { return top_; }
  size_t SpanBytes() const { return size_t(width_) * 4; }
  int Rows() const { return height_; }

  // Row y of the window, counted from the top, in the DIB and in the target.
  // Read after GdiFlush: GDI may batch its drawing.
  uint8_t* WindowRow(int y) { return bits_ + size_t(height_ - 1 - y) * SpanBytes(); }
  uint8_t* TargetRow(int y) const {
    return target_.pixels + (size_t(target_.height - 1 - (y0_ + y)) * target_.width + x0_) * 4;
  }

  // Fills the window with the target's pixels, their colours inverted when
  // asked.
  void Fill(bool inverted) {
    for (int y = 0; y < height_; ++y) {
      uint8_t* window = WindowRow(y);
      std::memcpy(window, TargetRow(y), SpanBytes());
      if (!inverted) continue;
      for (size_t i = 0; i < SpanBytes(); i += 4) {
        window[i] ^= 0xFF, window[i + 1] ^= 0xFF, window[i + 2] ^= 0xFF;
      }
    }
  }

 private:
  PixelTarget target_;
  int x0_ = 0, y0_ = 0, width_ = 0, height_ = 0;
  int left_ = 0, top_ = 0;
  HDC dc_ = nullptr;
  HBITMAP dib_ = nullptr;
  HGDIOBJ old_ = nullptr;
  uint8_t* bits_ = nullptr;
  bool ready_ = false;

  void Fail(const char* call) {
    const DWORD error = GetLastError();
    Say(Subsystem::Images, "%s failed for a %dx%d drawing (error %lu): the picture is not drawn, its texture stays empty",
        call, width_, height_, static_cast<unsigned long>(error));
  }
};

void SayNoMemory(const char* what, size_t bytes) {
  Say(Subsystem::Images, "no memory for %s (%zu bytes): the picture is not drawn, its texture stays empty", what,
      bytes);
}

}  // namespace

void SetPictureDrawingFails(bool fails) { drawingFails = fails; }

Picture* LoadPicture(const uint8_t* data, size_t size, PictureStatus* status) {
  PictureStatus ignored;
  if (!status) status = &ignored;
  // OLE says only whether it made a picture, not whether the file was whole:
  // a picture is Whole, a refusal of a known signature Unreadable.
  *status = PictureStatus::NotAPicture;
  if (!OfferedToOle(data, size)) return nullptr;
  *status = PictureStatus::Unreadable;
  // S_FALSE (already joined) must be undone too; a thread in another kind of
  // apartment (RPC_E_CHANGED_MODE) can use COM as it is.
  const bool joinedCom = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  IStream* stream = StreamOverCopy(data, size);
  if (!stream && size <= 0xFFFFFFFFu) SayNoMemory("a copy of the picture's bytes", size);
  IPicture* loaded = nullptr;
  const HRESULT result =
      stream ? OleLoadPicture(stream, 0, FALSE, IID_IPicture, reinterpret_cast<void**>(&loaded)) : E_OUTOFMEMORY;
  if (stream) stream->Release();
  if (result != S_OK || !loaded) {
    if (joinedCom) CoUninitialize();
    return nullptr;
  }

  // Only bitmaps: the size in pixels is the bitmap's own, not a conversion
  // of the HIMETRIC extent through the screen's resolution.
  short type = PICTYPE_UNINITIALIZED;
  OLE_HANDLE handle = 0;
  BITMAP bitmap{};
  auto* picture = new (std::nothrow) Picture;
  if (!picture) SayNoMemory("a picture", sizeof(Picture));
  if (!picture || loaded->get_Type(&type) != S_OK || type != PICTYPE_BITMAP ||
      loaded->get_Handle(&handle) != S_OK ||
      GetObjectW(reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(handle)), sizeof bitmap, &bitmap) == 0 ||
      bitmap.bmWidth <= 0 || bitmap.bmHeight <= 0 ||
      uint64_t(bitmap.bmWidth) * uint64_t(bitmap.bmHeight) > MaxPicturePixels ||
      loaded->get_Width(&picture->himetricWidth) != S_OK || loaded->get_Height(&picture->himetricHeight) != S_OK) {
    delete picture;
    loaded->Release();
    if (joinedCom) CoUninitialize();
    return nullptr;
  }
  picture->picture = loaded;
  picture->joinedCom = joinedCom;
  DWORD attributes = 0;
  picture->transparent = loaded->get_Attributes(&attributes) == S_OK && (attributes & PICTURE_TRANSPARENT);
  picture->width = bitmap.bmWidth;
  picture->height = bitmap.bmHeight;
  *status = PictureStatus::Whole;
  return picture;
}

int PictureWidth(const Picture* picture) { return picture ? picture->width : 0; }
int PictureHeight(const Picture* picture) { return picture ? picture->height : 0; }

void RenderPicture(const Picture* picture, const PixelTarget& target, const TargetRect& rect) {
  if (!picture) return;
  TargetWindow window(target, rect);
  if (!window.Ready()) return;
  // The source rectangle runs from the bottom (y = height) upwards with a
  // negative height: HIMETRIC counts up, so this draws the picture upright.
  auto render = [&] {
    const HRESULT drawn = picture->picture->Render(window.Dc(), window.Left(), window.Top(),
                                                   rect.right - rect.left, rect.bottom - rect.top, 0,
                                                   picture->himetricHeight, picture->himetricWidth,
                                                   -picture->himetricHeight, nullptr);
    GdiFlush();
    return SUCCEEDED(drawn);
  };
  if (!picture->transparent) {
    // Every pixel under the rectangle is drawn. GDI passes on whatever
    // fourth byte the picture's bitmap has; the reserved byte here is 0.
    if (!render()) return;
    for (int y = 0; y < window.Rows(); ++y) {
      const uint8_t* from = window.WindowRow(y);
      uint8_t* to = window.TargetRow(y);
      for (size_t i = 0; i < window.SpanBytes(); i += 4) {
        to[i] = from[i], to[i + 1] = from[i + 1], to[i + 2] = from[i + 2], to[i + 3] = 0;
      }
    }
    return;
  }
  // Masked drawing keeps the colour of transparent pixels but not always
  // their fourth byte. Drawn over the target and over its inverse, a drawn
  // pixel comes out the same both times and a transparent one does not:
  // only the drawn ones are written back.
  window.Fill(false);
  if (!render()) return;
  std::vector<uint8_t> overTarget;
  try {
    overTarget.resize(window.SpanBytes() * size_t(window.Rows()));
  } catch (const std::bad_alloc&) {
    SayNoMemory("the copy of a transparent picture", window.SpanBytes() * size_t(window.Rows()));
    return;
  }
  for (int y = 0; y < window.Rows(); ++y) {
    std::memcpy(&overTarget[size_t(y) * window.SpanBytes()], window.WindowRow(y), window.SpanBytes());
  }
  window.Fill(true);
  if (!render()) return;
  for (int y = 0; y < window.Rows(); ++y) {
    const uint8_t* first = &overTarget[size_t(y) * window.SpanBytes()];
    const uint8_t* second = window.WindowRow(y);
    uint8_t* to = window.TargetRow(y);
    for (size_t i = 0; i < window.SpanBytes(); i += 4) {
      if (first[i] != second[i] || first[i + 1] != second[i + 1] || first[i + 2] != second[i + 2]) continue;
      to[i] = first[i], to[i + 1] = first[i + 1], to[i + 2] = first[i + 2], to[i + 3] = 0;
    }
  }
}

void ReleasePicture(Picture* picture) {
  if (!picture) return;
  picture->picture->Release();
  if (picture->joinedCom) CoUninitialize();
  delete picture;
}

void StretchBitmap(const PremultipliedBitmap& bitmap, const PixelTarget& target, const TargetRect& rect) {
  if (bitmap.width == 0 || bitmap.height == 0 || bitmap.width > INT32_MAX || bitmap.height > INT32_MAX) return;
  if (bitmap.pixels.size() < uint64_t(bitmap.width) * bitmap.height * 4) return;
  TargetWindow window(target, rect);
  if (!window.Ready()) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = LONG(bitmap.width);
  info.bmiHeader.biHeight = -LONG(bitmap.height);  // the bitmap's rows run top to bottom
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  StretchDIBits(window.Dc(), window.Left(), window.Top(), rect.right - rect.left, rect.bottom - rect.top, 0, 0,
                LONG(bitmap.width), LONG(bitmap.height), bitmap.pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
  GdiFlush();
  for (int y = 0; y < window.Rows(); ++y) std::memcpy(window.TargetRow(y), window.WindowRow(y), window.SpanBytes());
}
