// Inflate throughput, our inflater against zlib's on the same streams in the
// same run. Throughput counts output bytes (bytes_per_second = MB/s of output).
//
//   build-png/bench/bench_inflate --benchmark_min_time=0.5
//
// Streams: PNG image data of a photographic and a flat-graphics picture
// (filtered scanlines, as a PNG stores them) and text-like data, each
// compressed by zlib at level 6.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "png/Inflate.h"

namespace {

using Bytes = std::vector<unsigned char>;

uint32_t nextRandom(uint32_t& x) {
  x ^= x << 13;
  x ^= x >> 17;
  x ^= x << 5;
  return x;
}

// Scanlines of a 1024x1024 RGB picture, each row filtered with Paeth or Sub.
Bytes scanlines(bool photographic) {
  const int w = 1024, h = 1024, bpp = 3;
  Bytes raw(size_t(w) * h * bpp);
  uint32_t seed = 12345;
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      unsigned char* p = &raw[(size_t(y) * w + x) * bpp];
      if (photographic) {
        // Smooth shading with sensor-like noise.
        for (int c = 0; c < 3; ++c) {
          double v = 128 + 60 * std::sin(x * 0.01 + c) * std::cos(y * 0.013 - c) + 30 * std::sin((x + y) * 0.002);
          p[c] = static_cast<unsigned char>(std::lround(v) + int(nextRandom(seed) % 9) - 4);
        }
      } else {
        // Flat areas, a few colours, hard edges.
        const int cell = ((x / 96) + (y / 64) * 3) % 5;
        static const unsigned char colours[5][3] = {{255, 255, 255}, {20, 40, 200}, {240, 200, 0}, {0, 0, 0}, {200, 30, 30}};
        std::memcpy(p, colours[(x % 200 < 3) ? 3 : cell], 3);
      }
    }
  }
  Bytes out;
  const size_t rowBytes = size_t(w) * bpp;
  for (int y = 0; y < h; ++y) {
    const unsigned char* row = &raw[y * rowBytes];
    const unsigned char* prior = y ? row - rowBytes : nullptr;
    const unsigned type = photographic ? 4 : 1;
    out.push_back(static_cast<unsigned char>(type));
    for (size_t i = 0; i < rowBytes; ++i) {
      int a = i >= bpp ? row[i - bpp] : 0, b = prior ? prior[i] : 0, c = (prior && i >= bpp) ? prior[i - bpp] : 0;
      int predicted = a;
      if (type == 4) {
        int q = a + b - c, pa = std::abs(q - a), pb = std::abs(q - b), pc = std::abs(q - c);
        predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
      }
      out.push_back(static_cast<unsigned char>(row[i] - predicted));
    }
  }
  return out;
}

Bytes textLike() {
  static const char* words[] = {"the ", "demo ", "scroll", "er ", "texture ", "row ", "track", "s ", "music ",
                                "plane", ", ", ".\n", "and ", "of ", "GL ", "to "};
  Bytes out;
  uint32_t seed = 777;
  while (out.size() < (8u << 20)) {
    const char* w = words[nextRandom(seed) % 16];
    out.insert(out.end(), w, w + std::strlen(w));
  }
  return out;
}

Bytes compress(const Bytes& data) {
  uLongf size = compressBound(data.size());
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), data.size(), 6) != Z_OK) throw std::runtime_error("compress2");
  out.resize(size);
  return out;
}

struct Stream {
  Bytes compressed;
  size_t size;
};

// Checked once before timing: a fast wrong answer is no figure.
Stream makeStream(const Bytes& data) {
  Stream s{compress(data), data.size()};
  Bytes out;
  if (decompressZlib(out, s.compressed.data(), s.compressed.data() + s.compressed.size()) || out != data)
    throw std::runtime_error("the inflater disagrees with the input");
  return s;
}

const Stream& streamFor(int kind) {
  static const Stream streams[3] = {makeStream(scanlines(true)), makeStream(scanlines(false)),
                                    makeStream(textLike())};
  return streams[kind];
}

const char* const kindNames[3] = {"png_photo", "png_flat", "text"};

void BM_InflateOurs(benchmark::State& state) {
  const Stream& s = streamFor(static_cast<int>(state.range(0)));
  Bytes out(s.size);  // pre-sized as the PNG decoder does
  for (auto _ : state) {
    int error = decompressZlib(out, s.compressed.data(), s.compressed.data() + s.compressed.size());
    if (error || out.size() != s.size) state.SkipWithError("decompressZlib failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(kindNames[state.range(0)]);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size));
}

void BM_InflateZlib(benchmark::State& state) {
  const Stream& s = streamFor(static_cast<int>(state.range(0)));
  Bytes out(s.size);
  for (auto _ : state) {
    uLongf size = out.size();
    if (uncompress(out.data(), &size, s.compressed.data(), s.compressed.size()) != Z_OK || size != s.size)
      state.SkipWithError("uncompress failed");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetLabel(kindNames[state.range(0)]);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size));
}

BENCHMARK(BM_InflateOurs)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateZlib)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
