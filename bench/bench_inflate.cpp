// Inflate throughput: our inflater against libdeflate's, ISA-L's and zlib's on
// the same streams in the same run, then one table of ratios (throughput counts
// output bytes per CPU second, which a busy shared machine disturbs less than
// wall time; a ratio above 1 means ours is faster). "best" is the faster of
// libdeflate and ISA-L on that input: the one to beat.
//
//   build/bench/bench_inflate --benchmark_min_time=0.5
//
// Every input is the same on every machine: files of the repository, or of a
// Debian package that scripts/install-deps.sh installs, each compressed by
// zlib at levels 6 and 9 when the benchmark starts:
//   photo-png    a photograph's PNG image data (bench/inputs/astronaut.png's
//                IDAT stream inflated back to the filtered scanlines it holds)
//   photo-jpeg   a JPEG photograph (bench/inputs/rocket.jpg) decoded and stored
//                as PNG scanlines would be
//   screenshot   a desktop screenshot's PNG image data (bench/inputs/desktop.png)
//   show-still   a still of the bundled show (docs/still-0m24.png), likewise
//   source       the repository's C++ sources under src/, concatenated
//   executable   /usr/bin/cmake of Debian's cmake package, its first 4 MiB
// bench/inputs/README.md says where the pictures come from. A missing file
// stops the benchmark. Every stream is checked to decode to its input with
// each decoder before timing.
#include <benchmark/benchmark.h>
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchInputs.h"
#include "platform/Pictures.h"
#include "png/Inflate.h"

namespace {

using namespace bench_inputs;

// zlib's inflation of a stream of unknown output size.
Bytes ZlibInflateAll(const Bytes& stream) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw std::runtime_error("inflateInit");
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  Bytes out(stream.size() * 4 + 1024);
  int status;
  do {
    if (z.total_out == out.size()) out.resize(out.size() * 2);
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(out.size() - z.total_out);
    status = inflate(&z, Z_NO_FLUSH);
  } while (status == Z_OK);
  out.resize(z.total_out);
  inflateEnd(&z);
  if (status != Z_STREAM_END) throw std::runtime_error("zlib refuses a PNG's image data");
  return out;
}

// The filtered scanlines a PNG file stores: its image data inflated, by zlib.
bool PngScanlines(const fs::path& path, Bytes& out) {
  Bytes idat;
  if (!PngImageData(path, idat)) return false;
  out = ZlibInflateAll(idat);
  return true;
}

// A picture's RGB rows as a PNG encoder stores them: each row filtered by
// whichever of the five filters gives the smallest sum of absolute values.
Bytes FilteredRgbRows(const Bytes& rgb, size_t width, size_t height) {
  const size_t rowBytes = width * 3;
  Bytes out;
  Bytes candidate(rowBytes);
  Bytes best(rowBytes);
  for (size_t y = 0; y < height; ++y) {
    const unsigned char* row = &rgb[y * rowBytes];
    const unsigned char* up = y ? row - rowBytes : nullptr;
    unsigned long bestSum = ~0ul;
    unsigned bestType = 0;
    for (unsigned type = 0; type < 5; ++type) {
      unsigned long sum = 0;
      for (size_t i = 0; i < rowBytes; ++i) {
        const int a = i >= 3 ? row[i - 3] : 0, b = up ? up[i] : 0, c = (up && i >= 3) ? up[i - 3] : 0;
        int predicted = 0;
        if (type == 1) predicted = a;
        if (type == 2) predicted = b;
        if (type == 3) predicted = (a + b) / 2;
        if (type == 4) {
          const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          predicted = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
        }
        candidate[i] = static_cast<unsigned char>(row[i] - predicted);
        sum += static_cast<unsigned long>(std::abs(static_cast<signed char>(candidate[i])));
      }
      if (sum < bestSum) bestSum = sum, bestType = type, best.swap(candidate);
    }
    out.push_back(static_cast<unsigned char>(bestType));
    out.insert(out.end(), best.begin(), best.end());
  }
  return out;
}

bool JpegScanlines(const fs::path& path, Bytes& out) {
  Bytes file;
  if (!ReadWhole(path, file)) return false;
  Picture* picture = LoadPicture(file.data(), file.size());
  if (!picture) return false;
  const int w = PictureWidth(picture), h = PictureHeight(picture);
  Bytes bgrx(size_t(w) * h * 4);
  RenderPicture(picture, PixelTarget{bgrx.data(), w, h}, TargetRect{0, 0, w, h});
  ReleasePicture(picture);
  // The target is stored bottom row first; the rows go top to bottom as RGB.
  Bytes rgb(size_t(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    const unsigned char* src = &bgrx[size_t(h - 1 - y) * w * 4];
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) rgb[(size_t(y) * w + x) * 3 + c] = src[x * 4 + 2 - c];
  }
  out = FilteredRgbRows(rgb, w, h);
  return true;
}

struct Input {
  std::string name;
  Bytes data;
  Bytes stream;
};

std::vector<Input>& Inputs() {
  static std::vector<Input> inputs;
  return inputs;
}

void AddInput(const std::string& name, const fs::path& file, bool (*make)(const fs::path&, Bytes&)) {
  Bytes data;
  if (!make(file, data)) {
    std::fprintf(stderr, "bench_inflate: cannot read %s (scripts/install-deps.sh installs what it needs)\n",
                 file.c_str());
    std::exit(1);
  }
  for (int level : {6, 9}) {
    uLongf size = compressBound(data.size());
    Bytes stream(size);
    if (compress2(stream.data(), &size, data.data(), data.size(), level) != Z_OK)
      throw std::runtime_error("compress2");
    stream.resize(size);
    Inputs().push_back({name + "/" + std::to_string(level), data, stream});
  }
  std::fprintf(stderr, "bench_inflate: %-10s %8zu bytes from %s\n", name.c_str(), data.size(), file.c_str());
}

// One decoder: decompresses stream into out (sized to the expected output), false on failure.
using Decoder = bool (*)(const Bytes& stream, Bytes& out, void* context);

bool Ours(const Bytes& stream, Bytes& out, void*) {
  // Pre-sized as the PNG decoder does; the call trims it to the exact size.
  return decompressZlib(out, stream.data(), stream.data() + stream.size()) == 0;
}

bool Libdeflate(const Bytes& stream, Bytes& out, void* context) {
  size_t produced = 0;
  return libdeflate_zlib_decompress(static_cast<libdeflate_decompressor*>(context), stream.data(), stream.size(),
                                    out.data(), out.size(), &produced) == LIBDEFLATE_SUCCESS &&
         produced == out.size();
}

// One-shot, with the zlib header parsed and the Adler-32 trailer checked, as
// libdeflate_zlib_decompress does.
bool Isal(const Bytes& stream, Bytes& out, void*) {
  inflate_state state;
  isal_inflate_init(&state);
  state.next_in = const_cast<uint8_t*>(stream.data());
  state.avail_in = static_cast<uint32_t>(stream.size());
  state.next_out = out.data();
  state.avail_out = static_cast<uint32_t>(out.size());
  state.crc_flag = ISAL_ZLIB;
  return isal_inflate_stateless(&state) == ISAL_DECOMP_OK && state.total_out == out.size();
}

bool Zlib(const Bytes& stream, Bytes& out, void*) {
  uLongf size = out.size();
  return uncompress(out.data(), &size, stream.data(), stream.size()) == Z_OK && size == out.size();
}

struct DecoderInfo {
  const char* name;
  Decoder decode;
};
const DecoderInfo decoders[] = {{"ours", Ours}, {"libdeflate", Libdeflate}, {"isal", Isal}, {"zlib", Zlib}};

void BM_Inflate(benchmark::State& state, const Input* input, Decoder decode) {
  libdeflate_decompressor* context = libdeflate_alloc_decompressor();
  Bytes out(input->data.size());
  if (!decode(input->stream, out, context) || out != input->data) state.SkipWithError("wrong output");
  for (auto _ : state) {
    if (!decode(input->stream, out, context)) state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(out.data());
  }
  libdeflate_free_decompressor(context);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input->data.size()));
}

// Prints the usual console lines, then per input each decoder's throughput and
// ours as a ratio of the others'.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
      const std::string name = run.benchmark_name();
      const size_t slash = name.rfind('/');
      seconds_[name.substr(0, slash)][name.substr(slash + 1)].push_back(run.GetAdjustedCPUTime());
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-16s %9s %10s %9s %9s %10s %8s %9s %9s\n", "input", "ours MB/s", "libdeflate", "ISA-L",
                "zlib", "/libdeflate", "/ISA-L", "/best", "/zlib");
    double logBest = 0;
    int inputs = 0;
    for (const Input& input : Inputs()) {
      auto& byDecoder = seconds_["inflate/" + input.name];
      auto rate = [&](const char* decoder) {
        std::vector<double>& t = byDecoder[decoder];
        if (t.empty()) return 0.0;
        std::sort(t.begin(), t.end());
        // CPU microseconds per iteration (the runs' unit): bytes per microsecond is MB/s.
        return double(input.data.size()) / t[t.size() / 2];
      };
      const double ours = rate("ours"), deflate = rate("libdeflate"), isal = rate("isal"), zlib = rate("zlib");
      const double best = std::max(deflate, isal);
      auto ratio = [&](double theirs) { return theirs > 0 ? ours / theirs : 0.0; };
      std::printf("%-16s %9.0f %10.0f %9.0f %9.0f %10.2fx %7.2fx %8.2fx %8.2fx\n", input.name.c_str(), ours, deflate,
                  isal, zlib, ratio(deflate), ratio(isal), ratio(best), ratio(zlib));
      if (ours > 0 && best > 0) logBest += std::log(ours / best), ++inputs;
    }
    if (inputs) std::printf("geometric mean over %d inputs: %.2fx best\n", inputs, std::exp(logBest / inputs));
  }

 private:
  std::map<std::string, std::map<std::string, std::vector<double>>> seconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const fs::path root = DEMO_SOURCE_DIR;
  AddInput("photo-png", root / "bench/inputs/astronaut.png", PngScanlines);
  AddInput("photo-jpeg", root / "bench/inputs/rocket.jpg", JpegScanlines);
  AddInput("screenshot", root / "bench/inputs/desktop.png", PngScanlines);
  AddInput("show-still", root / "docs/still-0m24.png", PngScanlines);
  AddInput("source", root / "src", SourceText);
  AddInput("executable", "/usr/bin/cmake", ExecutableHead);
  // Decoders of one input run side by side, so that a slow spell of the machine
  // falls on all of them alike.
  for (const Input& input : Inputs())
    for (const DecoderInfo& d : decoders)
      benchmark::RegisterBenchmark(("inflate/" + input.name + "/" + d.name).c_str(), BM_Inflate, &input, d.decode)
          ->Unit(benchmark::kMicrosecond);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
