// Image loader: the system route (picture drawn into a keyed square) and the
// PNG route (our decoder, power-of-two nearest-neighbour padding). Uploads
// leave GL_TEXTURE_2D enabled and the slot's texture bound, with linear
// filters, no mipmaps and the default wrap. Every working buffer belongs to
// one load and is gone when its upload returns: the system route's square
// alone is 64 MiB at an edge of 4096.
#include "image/ImageLoader.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "image/TextureMath.h"
#include "image/TextureTable.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "png/PngDecoder.h"

namespace {

// What becomes of the slot when its picture cannot be made, for the one line
// that says so: at start-up the slot stays empty, on a reload it keeps the
// picture it had. Per thread, so that the start-up's worker never reads a
// reload's words.
thread_local const char* FailedImageOutcome = "its slot stays empty";

}  // namespace

ImageFailureOutcome::ImageFailureOutcome(const char* outcome) : previous_(FailedImageOutcome) {
  FailedImageOutcome = outcome;
}

ImageFailureOutcome::~ImageFailureOutcome() { FailedImageOutcome = previous_; }

void TexturePixels::Free::operator()(uint8_t* p) const { std::free(p); }

namespace {

// Zeroed pixels of width x height, or empty when memory is short. Large
// blocks come straight from the system already zero, so calloc skips the
// clearing pass that a vector's value-initialisation would make.
TexturePixels AllocatePixels(uint32_t width, uint32_t height, int internalFormat) {
  TexturePixels pixels;
  pixels.data.reset(static_cast<uint8_t*>(std::calloc(size_t(width) * height, 4)));
  if (pixels.data) {
    pixels.width = width;
    pixels.height = height;
    pixels.internalFormat = internalFormat;
  }
  return pixels;
}

// The system PNG decoder is asked for nothing but whether one can be created:
// its bitmap would never be uploaded (our own decoder gives the texture its
// unpremultiplied alpha), but a failure to create it is the one diagnostic
// image loading writes on stdout.
void ReportSystemPngDecoder() {
  PngBitmapDecoder* decoder = CreatePngBitmapDecoder();
  if (!decoder) {
    WriteDecoderCreationFailure();
    return;
  }
  ReleasePngBitmapDecoder(decoder);
}

const char* DescribeRead(FileRead result, bool empty) {
  switch (result) {
    case FileRead::CannotOpen: return "is missing or cannot be opened";
    case FileRead::ReadError: return empty ? "cannot be read" : nullptr;
    case FileRead::TooLarge: return "is too large to load";
    case FileRead::Ok: return empty ? "is empty" : nullptr;
  }
  return nullptr;
}

}  // namespace

int CurrentRenderEdge() {
  GLint maxTextureSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  return RenderEdge(maxTextureSize);
}

TexturePixels RenderSystemImage(const SystemImage& image, int renderEdge, TexturePixels reuse) {
  if (!image.picture || renderEdge <= 0) return {};
  const uint32_t edge = uint32_t(renderEdge);
  // The square starts zeroed, so whatever the picture leaves untouched (its
  // transparent pixels) is black and the key clears it.
  TexturePixels square;
  if (!reuse.empty() && reuse.width == edge && reuse.height == edge) {
    square = std::move(reuse);
    square.internalFormat = GL_RGBA;
    std::memset(square.data.get(), 0, size_t(edge) * edge * 4);
  } else {
    reuse = {};  // given back before a new square is taken
    square = AllocatePixels(edge, edge, GL_RGBA);
  }
  if (square.empty()) {
    Say(Subsystem::Images, "no memory for a %ux%u texture", edge, edge);
    return {};
  }
  const PixelTarget target{square.data.get(), renderEdge, renderEdge};
  DrawSystemImage(image, target, TargetRect{0, 0, renderEdge, renderEdge});
  KeyBgrxToRgba(square.data.get(), size_t(edge) * edge);
  return square;
}

TexturePixels DecodePngTexture(const char* path, const std::vector<unsigned char>& bytes) {
  std::vector<unsigned char> decoded;
  PngState state;
  try {
    decodeImage(decoded, state, bytes.empty() ? nullptr : bytes.data(), bytes.size());
  } catch (const std::bad_alloc&) {
    // A header may claim a size no memory holds: refuse the file, keep the show.
    Say(Subsystem::Images, "%s: no memory to decode it; %s", path, FailedImageOutcome);
    return {};
  }
  const uint32_t w = state.width;
  const uint32_t h = state.height;
  if (state.error != 0) {
    Say(Subsystem::Images,
        "%s: neither a picture the system reads nor a PNG that decodes "
        "(PNG error %d); %s",
        path, state.error, FailedImageOutcome);
    return {};
  }
  // The decoder claims success: still refuse pixels it did not deliver.
  if (w == 0 || h == 0 || decoded.size() < uint64_t(w) * h * 4) {
    Say(Subsystem::Images, "%s: decoder gave %ux%u with %zu bytes; %s",
        path, w, h, decoded.size(), FailedImageOutcome);
    return {};
  }
  const uint64_t paddedWidth = PowerOfTwoAtLeast(w);
  const uint64_t paddedHeight = PowerOfTwoAtLeast(h);
  if (PaddedTextureBytes(paddedWidth, paddedHeight) == 0) {
    Say(Subsystem::Images, "%s: %ux%u pads past a 32-bit size; %s",
        path, w, h, FailedImageOutcome);
    return {};
  }
  // Internal format 4: four components, the PNG's own alpha included.
  TexturePixels texture = AllocatePixels(uint32_t(paddedWidth), uint32_t(paddedHeight), 4);
  if (texture.empty()) {
    Say(Subsystem::Images, "%s: no memory for a %llux%llu texture; %s",
        path, static_cast<unsigned long long>(paddedWidth),
        static_cast<unsigned long long>(paddedHeight), FailedImageOutcome);
    return {};
  }
  ScaleImageNearest(decoded.data(), w, h, texture.data.get(), texture.width, texture.height);
  return texture;
}

PreparedImage PrepareImage(const char* path, int slot, int renderEdge, TexturePixels* square) {
  if (!path) path = "";
  PreparedImage prepared;
  prepared.slot = slot;
  if (slot < 0 || slot >= TextureSlots) {
    Say(Subsystem::Images, "%s: slot %d is outside the texture table", path, slot);
    return prepared;
  }
  // The file is read once; both routes work on the same bytes.
  std::vector<unsigned char> bytes;
  const FileRead read = ReadDataFile(path, bytes);
  if (const char* problem = DescribeRead(read, bytes.empty())) {
    Say(Subsystem::Images, "%s %s; %s", path, problem, FailedImageOutcome);
    return prepared;
  }
  SystemImage image;
  image.picture = LoadPicture(bytes.data(), bytes.size(), &image.pictureStatus);
  if (image.picture) {
    if (image.pictureStatus == PictureStatus::Damaged) {
      Say(Subsystem::Images, "%s is damaged; it is drawn from what it holds", path);
    }
    prepared.pixels = RenderSystemImage(image, renderEdge, square ? std::move(*square) : TexturePixels{});
  } else {
    ReportSystemPngDecoder();
    if (image.pictureStatus == PictureStatus::Unreadable) {
      // A GIF, JPEG or BMP signature: the PNG decoder could only refuse it
      // for its signature, which would hide what is wrong.
      Say(Subsystem::Images, "%s is a damaged or unsupported GIF, JPEG or BMP; %s",
          path, FailedImageOutcome);
    } else {
      prepared.pixels = DecodePngTexture(path, bytes);
    }
  }
  ReleaseSystemImage(image);
  return prepared;
}

bool UploadPreparedImage(const PreparedImage& image) {
  const TexturePixels& pixels = image.pixels;
  if (pixels.empty() || image.slot < 0 || image.slot >= TextureSlots) return false;
  GLint maxTextureSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  if (pixels.width > uint32_t(maxTextureSize) || pixels.height > uint32_t(maxTextureSize)) {
    Say(Subsystem::Images, "slot %d: %ux%u texture exceeds GL's limit of %d", image.slot,
        pixels.width, pixels.height, maxTextureSize);
  }
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, TextureTable[image.slot]);
  glTexImage2D(GL_TEXTURE_2D, 0, pixels.internalFormat, GLsizei(pixels.width), GLsizei(pixels.height),
               0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data.get());
  // Linear both ways, so no mipmap level is needed.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  return true;
}

bool LoadImage(const char* path, int slot) {
  return UploadPreparedImage(PrepareImage(path, slot, CurrentRenderEdge()));
}
