// Pictures service: the system's own picture decoders, as the image loader
// relies on them.
//
// - The picture loader takes the bytes of a GIF, JPEG or BMP file and makes a
//   picture that can be drawn stretched into a 32-bit pixel buffer. It refuses
//   everything else, PNG included: PNG files are meant to take the demo's own
//   decoder, and the loader's refusal is what sends them there.
// - The PNG bitmap decoder makes a premultiplied 32-bit BGRA bitmap of a PNG
//   file; the loader tries it for files the picture loader refused.
// - Drawing a picture or a bitmap into a pixel buffer is a nearest-neighbour
//   stretch over a rectangle, the picture upright whatever the buffer's row
//   order.
//
// Pictures and bitmaps own their pixels: they do not depend on the bytes they
// were made from, which the caller may free at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A 32-bit pixel buffer as a drawing target: 4 bytes a pixel in the order
// blue, green, red, reserved; rows of width * 4 bytes with no padding, stored
// bottom row first (memory row 0 is the bottom of the picture). Coordinates
// given to the drawing calls count from the top left, as on a screen.
struct PixelTarget {
  uint8_t* pixels = nullptr;
  int width = 0;
  int height = 0;
};

// Destination rectangle in target coordinates; right and bottom are exclusive.
struct TargetRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

// ---------------------------------------------------------------------------
// Picture loader (Linux: giflib, libjpeg-turbo, our own BMP reader; Windows:
// OleLoadPicture and IPicture::Render)

// A decoded picture: its pixels and which of them are transparent.
struct Picture;

// What the picture loader made of a file, so that the caller can say so: the
// loader itself prints nothing.
enum class PictureStatus {
  Whole,         // a picture of the whole file
  Damaged,       // a picture, but of a damaged file: a progressive JPEG cut in
                 // its refinements, drawn whole but less sharp
  Unreadable,    // a GIF, JPEG or BMP signature but no picture: the file is cut
                 // short or corrupt, or a kind the loader does not read
                 // (run-length BMP, forged sizes)
  NotAPicture,   // no GIF, JPEG or BMP signature (PNG and everything else)
};

// The picture in size bytes at data, or null when the bytes are no GIF, JPEG
// or uncompressed BMP, or are too damaged to give a picture; status, when
// given, says which. A GIF cut in its image data or a baseline JPEG cut short
// gives no picture rather than a torn one. Never writes to stdout or stderr.
// GIF: the first image, placed at its position on the logical screen, whose
// size is the picture's; the graphic-control transparent index and any part of
// the screen the image does not cover are transparent.
// JPEG: greyscale, YCbCr/RGB, CMYK and YCCK (Adobe files stored inverted),
// baseline or progressive; every pixel is opaque.
// BMP: 1, 4, 8, 16, 24 and 32 bits a pixel, uncompressed or by bit-field
// masks, bottom-up or top-down; every pixel is opaque.
Picture* LoadPicture(const uint8_t* data, size_t size, PictureStatus* status = nullptr);

// The picture's size in pixels.
int PictureWidth(const Picture* picture);
int PictureHeight(const Picture* picture);

// Draws the whole picture stretched over rect (nearest neighbour), clipped to
// the target. Transparent pixels leave the target untouched; opaque ones
// write blue, green, red and a reserved byte of 0. An empty rect draws nothing.
void RenderPicture(const Picture* picture, const PixelTarget& target, const TargetRect& rect);

void ReleasePicture(Picture* picture);

// ---------------------------------------------------------------------------
// PNG bitmap decoder (Linux: libpng; Windows: the WIC PNG decoder)

// A bitmap of the PNG decoder: width * height pixels, 4 bytes each in the
// order blue, green, red, alpha with the colours premultiplied by alpha; rows
// top to bottom, stride width * 4.
struct PremultipliedBitmap {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;
};

struct PngBitmapDecoder;

// A decoder object, or null when none can be created; the system's last error
// (errno, GetLastError on Windows) then says why.
PngBitmapDecoder* CreatePngBitmapDecoder();

// Reads the PNG signature and header of size bytes at data (which must stay
// alive until the decoder is released). False when they are no PNG.
bool InitializePngBitmapDecoder(PngBitmapDecoder* decoder, const uint8_t* data, size_t size);

// The number of frames of an initialised decoder: a PNG holds one.
uint32_t PngBitmapFrameCount(const PngBitmapDecoder* decoder);

// Decodes the frame into a premultiplied bitmap. False when the image data are
// damaged; bitmap is then left empty.
bool DecodePngBitmapFrame(PngBitmapDecoder* decoder, PremultipliedBitmap& bitmap);

void ReleasePngBitmapDecoder(PngBitmapDecoder* decoder);

// The one diagnostic the image loading writes: "failed", a line break, the
// last error (errno, GetLastError on Windows; read after the first write) in
// decimal, a blank and a line break, on stdout.
void WriteDecoderCreationFailure();


// Draws the whole bitmap stretched over rect (nearest neighbour), clipped to
// the target, copying all four bytes of each pixel as they are.
void StretchBitmap(const PremultipliedBitmap& bitmap, const PixelTarget& target,
                   const TargetRect& rect);
