// decodeImage against libspng and libpng on real pictures, all three decoders
// producing 8-bit RGBA from the same bytes in the same run. Prints, per kind of
// image, how many times faster ours is (their time / our time; above 1 means
// ours is faster), the geometric mean over the kinds, and how our time splits
// between decompressZlib and everything else.
//
//   build/bench/bench_png
//   BENCH_PNG_DUMP=DIR also writes every benchmark file into DIR.
//
// Every image comes from the repository, so that every machine measures the
// same bytes (bench/inputs/README.md says where the pictures come from):
//   - photographs: bench/inputs/*.png and *.jpg, each written by libpng at its
//     default settings as RGB, RGBA (alpha a soft vignette), grey and 16-bit
//     RGB, plain and Adam7;
//   - palette pictures: res/*.gif rewritten as 8-bit palette PNGs, plain and
//     Adam7; and at 1, 2 and 4 bits the desktop screenshot and the GIFs cut
//     down to 2, 4 and 16 colours (palette low-depth);
//   - screenshots as they are: bench/inputs/desktop.png and the pictures of
//     docs/ (stills of the bundled show, RGBA, and its track plot).
// Chunk CRC checks are switched off in both libraries: ours never reads CRCs.
// Times are medians of interleaved repetitions of the thread's processor time,
// so that a busy machine slows all three alike and waiting is not counted.
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Pictures.h"
#include "png/Inflate.h"
#include "png/PngDecoder.h"

namespace {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

struct Sample {
  std::string kind, name;
  Bytes file;
  uint32_t width = 0, height = 0;
};

Bytes ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------------------
// Pictures in, PNG files out.

// A decoded picture as RGB, top row first, via the demo's own system route.
struct Rgb {
  uint32_t width = 0, height = 0;
  Bytes pixels;  // 3 bytes a pixel
};

bool DecodeOurs(const Bytes& file, Bytes& rgba, uint32_t& w, uint32_t& h);

// PNG files go through our own decoder: the system route refuses them.
bool DecodePicture(const Bytes& bytes, Rgb& rgb) {
  if (bytes.size() > 8 && std::memcmp(bytes.data(), "\x89PNG", 4) == 0) {
    Bytes rgba;
    if (!DecodeOurs(bytes, rgba, rgb.width, rgb.height)) return false;
    rgb.pixels.resize(size_t(rgb.width) * rgb.height * 3);
    for (size_t i = 0; i < size_t(rgb.width) * rgb.height; ++i) std::memcpy(&rgb.pixels[3 * i], &rgba[4 * i], 3);
    return true;
  }
  Picture* picture = LoadPicture(bytes.data(), bytes.size());
  if (!picture) return false;
  const int w = PictureWidth(picture), h = PictureHeight(picture);
  Bytes bgrx(size_t(w) * h * 4, 0);
  RenderPicture(picture, PixelTarget{bgrx.data(), w, h}, TargetRect{0, 0, w, h});
  ReleasePicture(picture);
  rgb.width = w, rgb.height = h;
  rgb.pixels.resize(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    const unsigned char* src = &bgrx[size_t(h - 1 - y) * w * 4];  // bottom row first in memory
    unsigned char* dst = &rgb.pixels[size_t(y) * w * 3];
    for (int x = 0; x < w; ++x) dst[3 * x] = src[4 * x + 2], dst[3 * x + 1] = src[4 * x + 1], dst[3 * x + 2] = src[4 * x];
  }
  return true;
}

void WriteToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

// rows: packed samples of the given type and depth (16-bit big-endian).
Bytes WritePng(const Bytes& rows, uint32_t w, uint32_t h, int colourType, int depth, bool adam7,
               const std::vector<png_color>& palette = {}) {
  Bytes file;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) throw std::runtime_error("libpng could not write a benchmark image");
  png_set_write_fn(png, &file, WriteToVector, FlushNothing);
  png_set_IHDR(png, info, w, h, depth, colourType, adam7 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!palette.empty()) png_set_PLTE(png, info, palette.data(), int(palette.size()));
  const size_t rowBytes = rows.size() / h;
  std::vector<png_bytep> pointers(h);
  for (uint32_t y = 0; y < h; ++y) pointers[y] = const_cast<png_bytep>(&rows[y * rowBytes]);
  png_set_rows(png, info, pointers.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return file;
}

void AddPhotoSamples(const std::string& name, const Rgb& rgb, std::vector<Sample>& out) {
  const uint32_t w = rgb.width, h = rgb.height;
  const size_t n = size_t(w) * h;
  Bytes rgba(n * 4), grey(n), rgb16(n * 6);
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      const size_t i = size_t(y) * w + x;
      const unsigned char* p = &rgb.pixels[3 * i];
      std::memcpy(&rgba[4 * i], p, 3);
      const double dx = (x + 0.5) / w - 0.5, dy = (y + 0.5) / h - 0.5;
      rgba[4 * i + 3] = static_cast<unsigned char>(std::clamp(1.4 - 2.2 * std::sqrt(dx * dx + dy * dy), 0.0, 1.0) * 255);
      grey[i] = static_cast<unsigned char>((p[0] * 77 + p[1] * 150 + p[2] * 29) >> 8);
      for (int c = 0; c < 3; ++c) rgb16[6 * i + 2 * c] = rgb16[6 * i + 2 * c + 1] = p[c];  // v * 257
    }
  }
  for (bool adam7 : {false, true}) {
    const std::string suffix = adam7 ? " adam7" : "";
    out.push_back({"photo rgb" + suffix, name, WritePng(rgb.pixels, w, h, PNG_COLOR_TYPE_RGB, 8, adam7)});
    out.push_back({"photo rgba" + suffix, name, WritePng(rgba, w, h, PNG_COLOR_TYPE_RGBA, 8, adam7)});
    out.push_back({"photo grey" + suffix, name, WritePng(grey, w, h, PNG_COLOR_TYPE_GRAY, 8, adam7)});
  }
  out.push_back({"photo rgb16", name, WritePng(rgb16, w, h, PNG_COLOR_TYPE_RGB, 16, false)});
}

// A picture of at most 256 colours (a GIF) as an 8-bit palette PNG.
void AddPaletteSamples(const std::string& name, const Rgb& rgb, std::vector<Sample>& out) {
  std::map<uint32_t, unsigned char> indexOf;
  std::vector<png_color> palette;
  Bytes indices(size_t(rgb.width) * rgb.height);
  for (size_t i = 0; i < indices.size(); ++i) {
    const unsigned char* p = &rgb.pixels[3 * i];
    const uint32_t colour = uint32_t(p[0]) << 16 | p[1] << 8 | p[2];
    auto it = indexOf.find(colour);
    if (it == indexOf.end()) {
      if (palette.size() == 256) return;  // not a palette picture after all
      it = indexOf.emplace(colour, static_cast<unsigned char>(palette.size())).first;
      palette.push_back({p[0], p[1], p[2]});
    }
    indices[i] = it->second;
  }
  for (bool adam7 : {false, true})
    out.push_back({adam7 ? "palette adam7" : "palette", name,
                   WritePng(indices, rgb.width, rgb.height, PNG_COLOR_TYPE_PALETTE, 8, adam7, palette)});
}

// A picture cut down to 2, 4 or 16 colours (its brightness in as many steps,
// on a tinted ramp) and written as a palette PNG of 1, 2 or 4 bits.
void AddLowDepthSample(const std::string& name, const Rgb& rgb, int depth, std::vector<Sample>& out) {
  const unsigned levels = 1u << depth;
  std::vector<png_color> palette(levels);
  for (unsigned i = 0; i < levels; ++i) {
    const unsigned v = i * 255 / (levels - 1);
    palette[i] = {static_cast<png_byte>(v), static_cast<png_byte>(v * 3 / 4 + 32), static_cast<png_byte>(255 - v / 2)};
  }
  const size_t rowBytes = (size_t(rgb.width) * depth + 7) / 8;
  Bytes packed(rowBytes * rgb.height, 0);
  for (uint32_t y = 0; y < rgb.height; ++y) {
    for (uint32_t x = 0; x < rgb.width; ++x) {
      const unsigned char* p = &rgb.pixels[(size_t(y) * rgb.width + x) * 3];
      const unsigned luma = (p[0] * 77 + p[1] * 150 + p[2] * 29) >> 8;
      const unsigned index = luma * levels / 256;
      const size_t bit = size_t(x) * depth;
      packed[y * rowBytes + bit / 8] |= static_cast<unsigned char>(index << (8 - depth - bit % 8));
    }
  }
  out.push_back({"palette low-depth", name + " " + std::to_string(depth) + "-bit",
                 WritePng(packed, rgb.width, rgb.height, PNG_COLOR_TYPE_PALETTE, depth, false, palette)});
}

// ---------------------------------------------------------------------------
// The three decoders.

bool DecodeOurs(const Bytes& file, Bytes& rgba, uint32_t& w, uint32_t& h) {
  PngState state;
  decodeImage(rgba, state, file.data(), file.size());
  w = state.width, h = state.height;
  return state.error == 0;
}

struct MemoryReader {
  const Bytes* file;
  size_t pos;
};
void ReadFromMemory(png_structp png, png_bytep data, png_size_t length) {
  auto* r = static_cast<MemoryReader*>(png_get_io_ptr(png));
  if (r->pos + length > r->file->size()) png_error(png, "short file");
  std::memcpy(data, r->file->data() + r->pos, length);
  r->pos += length;
}

bool DecodeLibpng(const Bytes& file, Bytes& rgba, uint32_t& w, uint32_t& h) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  MemoryReader reader{&file, 0};
  png_set_read_fn(png, &reader, ReadFromMemory);
  png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  rgba.resize(size_t(w) * h * 4);
  std::vector<png_bytep> rows(h);
  for (uint32_t y = 0; y < h; ++y) rows[y] = &rgba[size_t(y) * w * 4];
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool DecodeSpng(const Bytes& file, Bytes& rgba, uint32_t& w, uint32_t& h) {
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_crc_action(ctx, SPNG_CRC_USE, SPNG_CRC_USE);
  spng_set_png_buffer(ctx, file.data(), file.size());
  spng_ihdr ihdr{};
  size_t size = 0;
  bool ok = spng_get_ihdr(ctx, &ihdr) == 0 && spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0;
  if (ok) {
    rgba.resize(size);
    ok = spng_decode_image(ctx, rgba.data(), rgba.size(), SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
  }
  spng_ctx_free(ctx);
  w = ihdr.width, h = ihdr.height;
  return ok;
}

// Our decompression alone: the gathered IDAT data inflated into a buffer
// sized as the decoder sizes it.
struct InflateInput {
  Bytes compressed;
  size_t scanlineBytes = 0;
};

InflateInput GatherImageData(const Bytes& file) {
  InflateInput input;
  for (size_t pos = 33; pos + 8 <= file.size();) {
    const uint32_t length = uint32_t(file[pos]) << 24 | file[pos + 1] << 16 | file[pos + 2] << 8 | file[pos + 3];
    if (pos + 8 + length > file.size()) break;
    if (std::memcmp(&file[pos + 4], "IDAT", 4) == 0)
      input.compressed.insert(input.compressed.end(), &file[pos + 8], &file[pos + 8] + length);
    pos += 12 + size_t(length);
  }
  Bytes out;
  decompressZlib(out, input.compressed.data(), input.compressed.data() + input.compressed.size());
  input.scanlineBytes = out.size();
  return input;
}


// The calling thread's processor time: on a machine shared with other work a
// decode that was preempted half way would otherwise count the time it waited.
double ThreadSeconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Timing {
  double ours, inflate, spng, libpng;  // seconds per decode
};

Timing Measure(const Sample& s) {
  const InflateInput input = GatherImageData(s.file);
  std::vector<double> ours, inflate, spng, libpng;
  uint32_t w, h;
  const double start = ThreadSeconds();
  // At least 5 rounds; more for small pictures, up to about half a second a file.
  for (int round = 0; round < 200 && (round < 5 || ThreadSeconds() - start < 0.5); ++round) {
    // Each call gets a fresh image buffer, as a caller that keeps the image would.
    Bytes rgba;
    double t = ThreadSeconds();
    DecodeOurs(s.file, rgba, w, h);
    ours.push_back(ThreadSeconds() - t);
    t = ThreadSeconds();
    {
      Bytes out(input.scanlineBytes);
      decompressZlib(out, input.compressed.data(), input.compressed.data() + input.compressed.size());
    }
    inflate.push_back(ThreadSeconds() - t);
    Bytes().swap(rgba);
    t = ThreadSeconds();
    DecodeSpng(s.file, rgba, w, h);
    spng.push_back(ThreadSeconds() - t);
    Bytes().swap(rgba);
    t = ThreadSeconds();
    DecodeLibpng(s.file, rgba, w, h);
    libpng.push_back(ThreadSeconds() - t);
  }
  return {Median(ours), Median(inflate), Median(spng), Median(libpng)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "usage: bench_png   (BENCH_PNG_DUMP=DIR also writes every benchmark file into DIR)\n");
    return std::strcmp(argv[1], "--help") == 0 ? 0 : 2;
  }
  const fs::path root = DEMO_SOURCE_DIR;
  auto filesOf = [](const fs::path& dir, std::initializer_list<const char*> extensions) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(dir))
      for (const char* ext : extensions)
        if (entry.path().extension() == ext) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
  };
  auto picture = [](const fs::path& path) {
    Rgb rgb;
    if (!DecodePicture(ReadAll(path), rgb)) {
      std::fprintf(stderr, "bench_png: %s does not decode\n", path.c_str());
      std::exit(1);
    }
    return rgb;
  };
  std::vector<Sample> samples;
  for (const fs::path& path : filesOf(root / "bench/inputs", {".png", ".jpg"})) {
    if (path.filename() == "desktop.png") continue;  // a screenshot, below
    AddPhotoSamples(path.filename().string(), picture(path), samples);
  }
  for (const fs::path& path : filesOf(root / "res", {".gif"})) {
    const Rgb rgb = picture(path);
    AddPaletteSamples(path.filename().string(), rgb, samples);
    AddLowDepthSample(path.filename().string(), rgb, 4, samples);
  }
  const fs::path desktop = root / "bench/inputs/desktop.png";
  for (int depth : {1, 2, 4}) AddLowDepthSample(desktop.filename().string(), picture(desktop), depth, samples);
  std::vector<fs::path> screenshots = filesOf(root / "docs", {".png"});
  screenshots.push_back(desktop);
  for (const fs::path& path : screenshots) samples.push_back({"screenshot", path.filename().string(), ReadAll(path)});

  // BENCH_PNG_DUMP=DIR keeps the files for a closer look (demotool png, a profiler).
  if (const char* dir = std::getenv("BENCH_PNG_DUMP")) {
    for (size_t i = 0; i < samples.size(); ++i) {
      std::string name = samples[i].kind + "_" + fs::path(samples[i].name).filename().string();
      std::replace(name.begin(), name.end(), ' ', '_');
      std::ofstream(fs::path(dir) / (std::to_string(i) + "_" + name + ".png"), std::ios::binary)
          .write(reinterpret_cast<const char*>(samples[i].file.data()), std::streamsize(samples[i].file.size()));
    }
  }

  // Every decoder must agree on every file, or the times compare different work.
  std::vector<Sample> usable;
  for (Sample& s : samples) {
    Bytes ours, theirs;
    uint32_t w, h, w2, h2;
    if (!DecodeOurs(s.file, ours, w, h) || !DecodeSpng(s.file, theirs, w2, h2) || ours != theirs) {
      std::fprintf(stderr, "bench_png: %s (%s): decoders disagree or refuse it, left out\n", s.name.c_str(),
                   s.kind.c_str());
      continue;
    }
    s.width = w, s.height = h;
    usable.push_back(std::move(s));
  }

  struct KindTotals {
    int files = 0;
    double megapixels = 0, ours = 0, inflate = 0, logSpng = 0, logLibpng = 0;
  };
  std::map<std::string, KindTotals> kinds;
  for (const Sample& s : usable) {
    const Timing t = Measure(s);
    KindTotals& k = kinds[s.kind];
    ++k.files;
    k.megapixels += double(s.width) * s.height / 1e6;
    k.ours += t.ours;
    k.inflate += t.inflate;
    k.logSpng += std::log(t.spng / t.ours);
    k.logLibpng += std::log(t.libpng / t.ours);
  }

  std::printf("%-20s %5s %8s %10s %10s %10s %10s %10s\n", "kind", "files", "MP", "ours ms", "inflate", "rest",
              "x libspng", "x libpng");
  double logSpng = 0, logLibpng = 0, minSpng = 1e9, minLibpng = 1e9;
  for (const auto& [name, k] : kinds) {
    const double spng = std::exp(k.logSpng / k.files), libpng = std::exp(k.logLibpng / k.files);
    std::printf("%-20s %5d %8.2f %10.2f %10.2f %10.2f %10.2f %10.2f\n", name.c_str(), k.files, k.megapixels,
                k.ours * 1e3, k.inflate * 1e3, (k.ours - k.inflate) * 1e3, spng, libpng);
    logSpng += std::log(spng), logLibpng += std::log(libpng);
    minSpng = std::min(minSpng, spng), minLibpng = std::min(minLibpng, libpng);
  }
  const double n = double(kinds.size());
  std::printf("geometric mean over %zu kinds: %.2fx libspng, %.2fx libpng; slowest kind %.2fx libspng, %.2fx libpng\n",
              kinds.size(), std::exp(logSpng / n), std::exp(logLibpng / n), minSpng, minLibpng);
  return 0;
}
