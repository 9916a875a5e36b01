// The start-up's images prepared one ahead of their uploads: a worker thread
// reads, decodes, stretches and keys the next image while the GL thread shows
// a loading frame and uploads the current one. Uploads still happen one at a
// time, in the order asked, on the thread that owns the context.
//
// Memory: the worker starts an image only once the one before it has been
// taken, so at most one square is in flight on each thread (the worker may
// hold a spare one beside the pixels of a PNG). Squares given back
// after their upload are drawn into again, and one that a PNG between two
// pictures did not need is kept for the next: a fresh 64 MiB square costs
// more in page faults than clearing a used one.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "image/ImageLoader.h"

struct ImageRequest {
  const char* path;
  int slot;
};

class ImagePrefetcher {
 public:
  // Starts preparing the first request at once.
  ImagePrefetcher(std::vector<ImageRequest> requests, int renderEdge);
  // Waits for the image being prepared, if any, and drops what was not taken.
  ~ImagePrefetcher();
  ImagePrefetcher(const ImagePrefetcher&) = delete;
  ImagePrefetcher& operator=(const ImagePrefetcher&) = delete;

  // The next request's prepared image, in request order; waits for it. After
  // the last one, an image with empty pixels and slot -1.
  PreparedImage Next();

  // Pixels whose upload is done, for the next picture to be drawn into when
  // they are a square of the render edge.
  void GiveBack(TexturePixels pixels);

 private:
  void Work();

  const std::vector<ImageRequest> requests_;
  const int renderEdge_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<PreparedImage> ready_;  // prepared and not yet taken
  TexturePixels spare_;                 // given back, not yet reused
  size_t taken_ = 0;
  bool stopping_ = false;
  std::thread worker_;
};
