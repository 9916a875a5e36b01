// decodeImage throughput in megapixels per second against libpng and libspng,
// on the same files in the same run, every decoder producing 8-bit RGBA.
//
//   build-png/bench/bench_png --benchmark_min_time=1
//   BENCH_PNG_SIZE=2048 build-png/bench/bench_png   (smaller images, quicker)
//
// Files: a photographic picture of BENCH_PNG_SIZE squared pixels (4096 by
// default) as RGBA8, RGB8, an 8-bit palette and 8-bit grey, each stored plain
// and Adam7-interlaced, written by libpng at its default settings. Chunk CRC
// checks are switched off in both baselines: our decoder does not read CRCs.
#include <benchmark/benchmark.h>
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "png/PngDecoder.h"

namespace {

using Bytes = std::vector<unsigned char>;

uint32_t imageSize() {
  const char* env = std::getenv("BENCH_PNG_SIZE");
  return env ? static_cast<uint32_t>(std::atoi(env)) : 4096;
}

enum Format { Rgba8, Rgb8, Palette8, Grey8, FormatCount };
const char* const formatNames[FormatCount] = {"rgba8", "rgb8", "palette8", "grey8"};

void writeToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void flushNothing(png_structp) {}

// A smooth picture with noise, in the requested format.
Bytes makeFile(Format format, bool interlaced) {
  const uint32_t n = imageSize();
  static const int channels[FormatCount] = {4, 3, 1, 1};
  const int ch = channels[format];
  Bytes pixels(size_t(n) * n * ch);
  uint32_t seed = 99;
  for (uint32_t y = 0; y < n; ++y) {
    for (uint32_t x = 0; x < n; ++x) {
      seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
      const int noise = int(seed % 7) - 3;
      int rgb[3];
      for (int c = 0; c < 3; ++c)
        rgb[c] = std::clamp(int(128 + 90 * std::sin(x * 0.004 + c * 2) * std::cos(y * 0.005 - c)) + noise, 0, 255);
      unsigned char* p = &pixels[(size_t(y) * n + x) * ch];
      switch (format) {
        case Rgba8: p[3] = static_cast<unsigned char>(255 - (x * 255 / n)); [[fallthrough]];
        case Rgb8: for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(rgb[c]); break;
        case Palette8: p[0] = static_cast<unsigned char>((rgb[0] >> 5) << 5 | (rgb[1] >> 5) << 2 | (rgb[2] >> 6)); break;
        case Grey8: p[0] = static_cast<unsigned char>((rgb[0] * 3 + rgb[1] * 4 + rgb[2]) / 8); break;
        default: break;
      }
    }
  }
  Bytes file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng write failed");
  png_set_write_fn(png, &file, writeToVector, flushNothing);
  static const int types[FormatCount] = {PNG_COLOR_TYPE_RGBA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_PALETTE,
                                         PNG_COLOR_TYPE_GRAY};
  png_set_IHDR(png, info, n, n, 8, types[format], interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_color palette[256];
  if (format == Palette8) {
    for (int i = 0; i < 256; ++i)
      palette[i] = {static_cast<png_byte>((i >> 5) << 5), static_cast<png_byte>(((i >> 2) & 7) << 5),
                    static_cast<png_byte>((i & 3) << 6)};
    png_set_PLTE(png, info, palette, 256);
  }
  std::vector<png_bytep> rows(n);
  for (uint32_t y = 0; y < n; ++y) rows[y] = &pixels[size_t(y) * n * ch];
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return file;
}

const Bytes& fileFor(int format, bool interlaced) {
  static std::map<int, Bytes> files;
  const int key = format * 2 + interlaced;
  auto it = files.find(key);
  if (it == files.end()) {
    it = files.emplace(key, makeFile(Format(format), interlaced)).first;
    // BENCH_PNG_DUMP=DIR keeps the files for a closer look (demotool png, a profiler).
    if (const char* dir = std::getenv("BENCH_PNG_DUMP")) {
      const std::string path = std::string(dir) + "/" + formatNames[format] + (interlaced ? "_adam7" : "_plain") + ".png";
      if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(it->second.data(), 1, it->second.size(), f);
        std::fclose(f);
      }
    }
  }
  return it->second;
}

void finish(benchmark::State& state) {
  const uint32_t n = imageSize();
  state.SetLabel(std::string(formatNames[state.range(0)]) + (state.range(1) ? " adam7" : " plain"));
  state.counters["MP/s"] =
      benchmark::Counter(double(n) * n * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BM_DecodeOurs(benchmark::State& state) {
  const Bytes& file = fileFor(int(state.range(0)), state.range(1));
  for (auto _ : state) {
    Bytes rgba;
    PngState png;
    decodeImage(rgba, png, file.data(), file.size());
    if (png.error) state.SkipWithError("decodeImage failed");
    benchmark::DoNotOptimize(rgba.data());
  }
  finish(state);
}

struct MemoryReader {
  const Bytes* file;
  size_t pos;
};
void readFromMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (r->pos + length > r->file->size()) png_error(png, "short file");
  std::memcpy(data, r->file->data() + r->pos, length);
  r->pos += length;
}

void BM_DecodeLibpng(benchmark::State& state) {
  const Bytes& file = fileFor(int(state.range(0)), state.range(1));
  for (auto _ : state) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
      state.SkipWithError("libpng failed");
      break;
    }
    MemoryReader reader{&file, 0};
    png_set_read_fn(png, &reader, readFromMemory);
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const uint32_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    Bytes rgba(size_t(w) * h * 4);
    std::vector<png_bytep> rows(h);
    for (uint32_t y = 0; y < h; ++y) rows[y] = &rgba[size_t(y) * w * 4];
    png_read_image(png, rows.data());
    png_destroy_read_struct(&png, &info, nullptr);
    benchmark::DoNotOptimize(rgba.data());
  }
  finish(state);
}

void BM_DecodeSpng(benchmark::State& state) {
  const Bytes& file = fileFor(int(state.range(0)), state.range(1));
  for (auto _ : state) {
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_crc_action(ctx, SPNG_CRC_USE, SPNG_CRC_USE);
    spng_set_png_buffer(ctx, file.data(), file.size());
    size_t size = 0;
    if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size)) state.SkipWithError("spng size failed");
    Bytes rgba(size);
    if (spng_decode_image(ctx, rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS))
      state.SkipWithError("spng decode failed");
    spng_ctx_free(ctx);
    benchmark::DoNotOptimize(rgba.data());
  }
  finish(state);
}

void formats(benchmark::internal::Benchmark* b) {
  for (int f = 0; f < FormatCount; ++f)
    for (int interlaced = 0; interlaced < 2; ++interlaced) b->Args({f, interlaced});
}

BENCHMARK(BM_DecodeOurs)->Apply(formats)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLibpng)->Apply(formats)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeSpng)->Apply(formats)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
