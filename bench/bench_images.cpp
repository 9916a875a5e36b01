// Image loading, per image and by route, in the offscreen GL context (Mesa
// llvmpipe, so uploads are memory copies on the CPU):
//   - system route at the render edge the context gives (4096 on llvmpipe):
//     a small GIF and a large JPEG, whole load (decode, stretch, key, upload),
//     beside its parts: the decode alone, the stretch and key alone, and the
//     bare upload of a square of that edge (the floor of the route);
//   - PNG route for a large PNG, whole load, beside our decode alone and
//     libpng's decode of the same file;
//   - the seven loads of the start-up from res/ (run from the source tree),
//     with the peak resident memory they reach as counters.
// Run: build-image/bench/bench_images --benchmark_repetitions=5
//      --benchmark_report_aggregates_only=true   (from the source tree root)
#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <png.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "image/ImageLoader.h"
#include "image/SystemImage.h"
#include "image/TextureMath.h"
#include "image/TextureTable.h"
#include "platform/PictureFixtures.h"
#include "png/PngDecoder.h"
#include "support/GlTestContext.h"

namespace {

struct Files {
  fixtures::TempDir dir;
  std::string smallGif, largeJpeg, largePng;
  fixtures::Bytes largePngBytes;
  bool ready = false;
};

// A picture with some structure (gradient plus noise) so that the encoders do
// real work and the decoders see realistic data.
std::vector<uint8_t> Busy(int width, int height, int components, uint32_t seed) {
  std::vector<uint8_t> pixels = fixtures::Gradient(width, height, components);
  const std::vector<uint8_t> noise = fixtures::Noise(pixels.size(), seed);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(pixels[i] + (noise[i] & 15));
  return pixels;
}

Files& Setup() {
  static Files files;
  if (files.ready) return files;
  files.ready = true;
  if (!testsupport::MakeGlContext(64, 64)) return files;
  glGenTextures(TextureSlots, TextureTable);

  fixtures::GifImage gif;
  gif.screenWidth = gif.width = 64;
  gif.screenHeight = gif.height = 64;
  for (int i = 0; i < 256; ++i) gif.globalColours.push_back({uint8_t(i), uint8_t(255 - i), 80});
  gif.indices = fixtures::Noise(64 * 64, 3);
  gif.transparentIndex = 0;
  files.smallGif = files.dir.File("small.gif");
  fixtures::WriteFile(files.smallGif, fixtures::MakeGif(gif));

  fixtures::JpegImage jpeg;
  jpeg.width = 2048;
  jpeg.height = 2048;
  jpeg.samples = Busy(2048, 2048, 3, 5);
  files.largeJpeg = files.dir.File("large.jpg");
  fixtures::WriteFile(files.largeJpeg, fixtures::MakeJpeg(jpeg));

  // 1500 x 1000 pads to 2048 x 1024: the scaler does real stepping.
  files.largePngBytes = fixtures::MakePng(1500, 1000, Busy(1500, 1000, 4, 9));
  files.largePng = files.dir.File("large.png");
  fixtures::WriteFile(files.largePng, files.largePngBytes);
  return files;
}

int Edge() {
  GLint limit = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &limit);
  return RenderEdge(limit);
}

bool Ready(benchmark::State& state) {
  if (Setup().smallGif.empty()) {
    state.SkipWithError("no GL context");
    return false;
  }
  return true;
}

void BM_SystemRouteLoad(benchmark::State& state, const std::string Files::*file) {
  if (!Ready(state)) return;
  const std::string& path = Setup().*file;
  for (auto _ : state) {
    LoadImage(path.c_str(), 0);
    glFinish();
  }
  state.counters["edge"] = Edge();
}
BENCHMARK_CAPTURE(BM_SystemRouteLoad, small_gif, &Files::smallGif)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SystemRouteLoad, large_jpeg, &Files::largeJpeg)
    ->Unit(benchmark::kMillisecond);

void BM_SystemDecodeOnly(benchmark::State& state, const std::string Files::*file) {
  if (!Ready(state)) return;
  const std::string& path = Setup().*file;
  for (auto _ : state) {
    SystemImage image;
    LoadSystemImage(path.c_str(), image);
    benchmark::DoNotOptimize(image.picture);
    ReleaseSystemImage(image);
  }
}
BENCHMARK_CAPTURE(BM_SystemDecodeOnly, small_gif, &Files::smallGif)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SystemDecodeOnly, large_jpeg, &Files::largeJpeg)
    ->Unit(benchmark::kMillisecond);

// Stretch of the decoded picture over the square plus the key pass, without GL.
void BM_SystemStretchAndKey(benchmark::State& state, const std::string Files::*file) {
  if (!Ready(state)) return;
  SystemImage image;
  LoadSystemImage((Setup().*file).c_str(), image);
  const int edge = Edge();
  std::vector<uint8_t> square(size_t(edge) * edge * 4);
  for (auto _ : state) {
    std::memset(square.data(), 0, square.size());
    DrawSystemImage(image, PixelTarget{square.data(), edge, edge}, TargetRect{0, 0, edge, edge});
    KeyBgrxToRgba(square.data(), size_t(edge) * edge);
    benchmark::ClobberMemory();
  }
  ReleaseSystemImage(image);
}
BENCHMARK_CAPTURE(BM_SystemStretchAndKey, small_gif, &Files::smallGif)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SystemStretchAndKey, large_jpeg, &Files::largeJpeg)
    ->Unit(benchmark::kMillisecond);

// The floor of the system route: allocate a zeroed square and upload it.
void BM_UploadFloor(benchmark::State& state) {
  if (!Ready(state)) return;
  const int edge = Edge();
  glBindTexture(GL_TEXTURE_2D, TextureTable[1]);
  for (auto _ : state) {
    std::vector<uint8_t> square(size_t(edge) * edge * 4, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, edge, edge, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 square.data());
    glFinish();
  }
  state.counters["edge"] = edge;
}
BENCHMARK(BM_UploadFloor)->Unit(benchmark::kMillisecond);

void BM_PngRouteLoad(benchmark::State& state) {
  if (!Ready(state)) return;
  const std::string& path = Setup().largePng;
  for (auto _ : state) {
    LoadImage(path.c_str(), 2);
    glFinish();
  }
}
BENCHMARK(BM_PngRouteLoad)->Unit(benchmark::kMillisecond);

void BM_PngDecodeOurs(benchmark::State& state) {
  if (!Ready(state)) return;
  const fixtures::Bytes& bytes = Setup().largePngBytes;
  for (auto _ : state) {
    std::vector<unsigned char> out;
    PngState png;
    decodeImage(out, png, bytes.data(), bytes.size());
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_PngDecodeOurs)->Unit(benchmark::kMillisecond);

void BM_PngDecodeLibpng(benchmark::State& state) {
  if (!Ready(state)) return;
  const fixtures::Bytes& bytes = Setup().largePngBytes;
  for (auto _ : state) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, bytes.data(), bytes.size());
    image.format = PNG_FORMAT_RGBA;
    std::vector<uint8_t> out(PNG_IMAGE_SIZE(image));
    png_image_finish_read(&image, nullptr, out.data(), 0, nullptr);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_PngDecodeLibpng)->Unit(benchmark::kMillisecond);

long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const size_t length = std::strlen(field);
  while (std::getline(status, line)) {
    if (line.compare(0, length, field) == 0) return std::stol(line.substr(length + 1));
  }
  return -1;
}

// The start-up's seven loads. The peak resident size is reset before each
// pass (clear_refs 5), so the counter is the high-water mark of the loads
// themselves over what the process held before them.
void BM_StartUpSevenLoads(benchmark::State& state) {
  if (!Ready(state)) return;
  static const char* const files[7] = {"res/vorn.gif",       "res/dravel.jpg",
                                       "res/tile.jpg",       "res/grlsch.png",
                                       "res/nightbacon.gif", "res/atari_st_bee.gif",
                                       "res/poubell.gif"};
  for (const char* file : files) {
    if (std::FILE* f = std::fopen(file, "rb")) {
      std::fclose(f);
    } else {
      state.SkipWithError("run from the source tree: res/ is missing");
      return;
    }
  }
  long before = 0, peak = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::ofstream("/proc/self/clear_refs") << "5";
    before = StatusKiB("VmRSS:");
    state.ResumeTiming();
    for (int slot = 0; slot < 7; ++slot) LoadImage(files[slot], slot);
    glFinish();
    peak = std::max(peak, StatusKiB("VmHWM:"));
  }
  state.counters["rss_before_MiB"] = before / 1024.0;
  state.counters["peak_rss_MiB"] = peak / 1024.0;
  // What the loads add at their worst: the working buffers of one load (the
  // textures of an earlier pass are already resident and are replaced).
  state.counters["peak_over_before_MiB"] = (peak - before) / 1024.0;
  state.counters["edge"] = Edge();
}
BENCHMARK(BM_StartUpSevenLoads)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
