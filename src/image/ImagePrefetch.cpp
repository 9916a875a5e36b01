#include "image/ImagePrefetch.h"

#include <utility>

ImagePrefetcher::ImagePrefetcher(std::vector<ImageRequest> requests, int renderEdge)
    : requests_(std::move(requests)), renderEdge_(renderEdge) {
  worker_ = std::thread([this] { Work(); });
}

ImagePrefetcher::~ImagePrefetcher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void ImagePrefetcher::Work() {
  // A square that an image of the PNG route left unused stays here for the
  // next picture of the system route.
  TexturePixels square;
  for (const ImageRequest& request : requests_) {
    if (square.empty()) {
      std::lock_guard<std::mutex> lock(mutex_);
      square = std::move(spare_);
    }
    PreparedImage image = PrepareImage(request.path, request.slot, renderEdge_, &square);
    std::unique_lock<std::mutex> lock(mutex_);
    ready_ = std::move(image);
    changed_.notify_all();
    // The next image starts only when this one has been taken: one texture's
    // pixels on this thread at a time.
    changed_.wait(lock, [this] { return stopping_ || !ready_; });
    if (stopping_) return;
  }
}

PreparedImage ImagePrefetcher::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (taken_ >= requests_.size()) {
    PreparedImage none;
    none.slot = -1;
    return none;
  }
  changed_.wait(lock, [this] { return ready_.has_value(); });
  PreparedImage image = std::move(*ready_);
  ready_.reset();
  ++taken_;
  changed_.notify_all();
  return image;
}

void ImagePrefetcher::GiveBack(TexturePixels pixels) {
  // Only a square is drawn into again; a PNG's padded pixels, or a square
  // beyond the one already kept, are let go (after the lock).
  if (pixels.width != uint32_t(renderEdge_) || pixels.height != uint32_t(renderEdge_)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (spare_.empty()) spare_ = std::move(pixels);
}
