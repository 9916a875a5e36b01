// Shared body of the picture-decoder targets: any bytes behind a format's
// signature go to the picture loader, and what it makes is drawn the way the
// image loader draws it, stretched into a square. The loader's own contract
// is checked too: a picture exactly when its status says whole or damaged,
// and a file of six bytes or more with a signature is never called "not a
// picture" (fewer bytes hold no format's header).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Pictures.h"

inline int FuzzPicture(const uint8_t* data, size_t size, const char* signature, size_t signatureBytes) {
  if (size < signatureBytes) return 0;
  // An exact copy on the heap, so that a read past the end is caught; the
  // signature is forced so that no run is spent on bytes nobody decodes.
  std::vector<uint8_t> file(data, data + size);
  std::memcpy(file.data(), signature, signatureBytes);
  PictureStatus status = PictureStatus::NotAPicture;
  Picture* picture = LoadPicture(file.data(), file.size(), &status);
  if (size >= 6 && status == PictureStatus::NotAPicture) std::abort();
  const bool drawable = status == PictureStatus::Whole || status == PictureStatus::Damaged;
  if ((picture != nullptr) != drawable) std::abort();
  if (!picture) return 0;
  if (PictureWidth(picture) <= 0 || PictureHeight(picture) <= 0) std::abort();
  // A small square, drawn whole and then into a rectangle hanging over its
  // edges, as a caller may ask.
  constexpr int Edge = 32;
  std::vector<uint8_t> square(Edge * Edge * 4);
  RenderPicture(picture, PixelTarget{square.data(), Edge, Edge}, TargetRect{0, 0, Edge, Edge});
  RenderPicture(picture, PixelTarget{square.data(), Edge, Edge}, TargetRect{-5, 7, Edge + 9, Edge - 3});
  ReleasePicture(picture);
  return 0;
}
