// Our inflater against zlib's, with nothing but the two of them and the C++
// standard library, so that the same source builds for Linux and, with
// MinGW-w64, for Windows (bench/run-windows.sh runs both and compares).
//
//   zlib_ratio --prepare DIR     writes the inputs, from the repository root
//   zlib_ratio [--rounds N] FILE...
//
// --prepare writes the uncompressed inputs of bench_inflate that need no
// picture loader: photo-png, screenshot and show-still (PNG image data
// inflated back to its filtered scanlines), source and executable. Each FILE
// is then compressed by zlib at levels 6 and 9 and both decoders decode it,
// checked against the file, in rounds in which the two take turns decode by
// decode; the median of the ratios of neighbouring decodes counts (see
// Measure). Times are
// wall-clock: the processor time Wine reports moves in steps of 10 ms.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "BenchInputs.h"
#include "png/Inflate.h"

namespace {

using namespace bench_inputs;

bool WriteWhole(const fs::path& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out.flush());
}

// The filtered scanlines a PNG file stores: its image data inflated.
bool PngScanlines(const fs::path& path, Bytes& out) {
  Bytes idat;
  return PngImageData(path, idat) && decompressZlib(out, idat.data(), idat.data() + idat.size()) == 0;
}

int Prepare(const fs::path& dir) {
  struct Source {
    const char* name;
    fs::path from;
    bool (*make)(const fs::path&, Bytes&);
  } sources[] = {{"photo-png", "bench/inputs/astronaut.png", PngScanlines},
                 {"screenshot", "bench/inputs/desktop.png", PngScanlines},
                 {"show-still", "docs/still-0m24.png", PngScanlines},
                 {"source", "src", SourceText},
                 {"executable", "/usr/bin/cmake", ExecutableHead}};
  std::error_code error;
  fs::create_directories(dir, error);
  if (error) {
    std::fprintf(stderr, "zlib_ratio: cannot make %s: %s\n", dir.string().c_str(), error.message().c_str());
    return 1;
  }
  for (const Source& s : sources) {
    Bytes data;
    if (!s.make(s.from, data)) {
      std::fprintf(stderr, "zlib_ratio: cannot read %s (run from the repository root; "
                   "scripts/install-deps.sh installs what is missing)\n", s.from.string().c_str());
      return 1;
    }
    const fs::path out = dir / (std::string(s.name) + ".raw");
    if (!WriteWhole(out, data)) {
      std::fprintf(stderr, "zlib_ratio: cannot write %s\n", out.string().c_str());
      return 1;
    }
  }
  return 0;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

struct Result {
  double ours, zlib, ratio;  // MB/s, MB/s, zlib's time / ours
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Each round decodes `reps` times with each decoder, the two taking turns
// decode by decode. Each pair of neighbouring decodes gives a ratio, and the
// median of those ratios counts: a spell of load that slows one decode of a
// pair moves that pair's ratio only, and the median passes over it as long as
// most pairs run undisturbed.
bool Measure(const Bytes& data, const Bytes& stream, int rounds, Result& result) {
  Bytes ours, theirs(data.size());
  uLongf size = theirs.size();
  if (decompressZlib(ours, stream.data(), stream.data() + stream.size()) != 0 || ours != data ||
      uncompress(theirs.data(), &size, stream.data(), stream.size()) != Z_OK || size != data.size() ||
      theirs != data)
    return false;
  // Enough repetitions for about 20 ms of our decoding a round.
  auto start = std::chrono::steady_clock::now();
  decompressZlib(ours, stream.data(), stream.data() + stream.size());
  const int reps = std::max(1, static_cast<int>(0.02 / std::max(Seconds(start), 1e-6)));
  std::vector<double> oursTimes, zlibTimes, ratios;
  for (int r = 0; r < rounds; ++r) {
    for (int i = 0; i < reps; ++i) {
      start = std::chrono::steady_clock::now();
      decompressZlib(ours, stream.data(), stream.data() + stream.size());
      const double oursTime = Seconds(start);
      start = std::chrono::steady_clock::now();
      size = theirs.size();
      uncompress(theirs.data(), &size, stream.data(), stream.size());
      const double zlibTime = Seconds(start);
      oursTimes.push_back(oursTime);
      zlibTimes.push_back(zlibTime);
      ratios.push_back(zlibTime / std::max(oursTime, 1e-9));
    }
  }
  const double megabytes = double(data.size()) / 1e6;
  result = {megabytes / Median(oursTimes), megabytes / Median(zlibTimes), Median(ratios)};
  return true;
}

int Run(const std::vector<std::string>& files, int rounds) {
  std::printf("fast loop: %s\n", inflateFastLoopName());
  std::printf("%-16s %9s %9s %7s\n", "input", "ours MB/s", "zlib MB/s", "/zlib");
  double logSum = 0;
  int count = 0;
  for (const std::string& file : files) {
    Bytes data;
    if (!ReadWhole(file, data) || data.empty()) {
      std::fprintf(stderr, "zlib_ratio: cannot read %s, or it is empty\n", file.c_str());
      return 1;
    }
    const std::string name = fs::path(file).stem().string();
    for (int level : {6, 9}) {
      uLongf size = compressBound(data.size());
      Bytes stream(size);
      if (compress2(stream.data(), &size, data.data(), data.size(), level) != Z_OK) {
        std::fprintf(stderr, "zlib_ratio: zlib cannot compress %s\n", file.c_str());
        return 1;
      }
      stream.resize(size);
      Result r{};
      if (!Measure(data, stream, rounds, r)) {
        std::fprintf(stderr, "zlib_ratio: %s/%d does not decode back to itself\n", name.c_str(), level);
        return 1;
      }
      std::printf("%-16s %9.0f %9.0f %6.2fx\n", (name + "/" + std::to_string(level)).c_str(), r.ours, r.zlib,
                  r.ratio);
      std::fflush(stdout);
      logSum += std::log(r.ratio);
      ++count;
    }
  }
  std::printf("geometric mean over %d inputs: %.2fx zlib\n", count, std::exp(logSum / count));
  return 0;
}

void Usage(FILE* to) {
  std::fputs(
      "usage: zlib_ratio --prepare DIR      write the inputs into DIR (from the repository root)\n"
      "       zlib_ratio [--rounds N] FILE...  our inflater against zlib's on each FILE, compressed\n"
      "                                        at zlib levels 6 and 9 (N rounds of about 20 ms, 15 by default)\n",
      to);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  int rounds = 15;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      Usage(stdout);
      return 0;
    }
    if (arg == "--prepare") {
      if (i + 2 != argc) {
        Usage(stderr);
        return 2;
      }
      return Prepare(argv[i + 1]);
    }
    if (arg == "--rounds") {
      char* end = nullptr;
      const long n = i + 1 < argc ? std::strtol(argv[i + 1], &end, 10) : 0;
      if (!end || *end || n < 1 || n > 1000) {
        std::fprintf(stderr, "zlib_ratio: --rounds wants a count from 1 to 1000\n");
        return 2;
      }
      rounds = static_cast<int>(n);
      ++i;
      continue;
    }
    if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "zlib_ratio: unknown option %s (try --help)\n", arg.c_str());
      return 2;
    }
    files.push_back(arg);
  }
  if (files.empty()) {
    Usage(stderr);
    return 2;
  }
  return Run(files, rounds);
}
