// The inputs the two inflate benchmarks share (bench_inflate and
// zlib_ratio), read the same way so that both measure the same bytes: files
// of the repository, or of a Debian package that scripts/install-deps.sh
// installs. Each returns false when its file cannot be read.
//
// Header only: zlib_ratio is built from a short fixed list of sources, for
// Linux and for Windows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

namespace bench_inputs {

using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

// The largest input: enough for the rate to settle, small enough to be quick.
inline constexpr size_t InputCap = 4u << 20;

inline bool ReadWhole(const fs::path& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

// A PNG file's image data as it stores it: its IDAT chunks joined, still
// compressed.
inline bool PngImageData(const fs::path& path, Bytes& idat) {
  Bytes file;
  if (!ReadWhole(path, file)) return false;
  auto bigEndian32 = [](const unsigned char* p) { return uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3]; };
  idat.clear();
  for (size_t pos = 8; pos + 12 <= file.size();) {
    const uint32_t length = bigEndian32(&file[pos]);
    if (length > file.size() - pos - 12) break;
    if (!std::memcmp(&file[pos + 4], "IDAT", 4))
      idat.insert(idat.end(), file.begin() + pos + 8, file.begin() + pos + 8 + length);
    pos += 12 + length;
  }
  return !idat.empty();
}

// The C++ sources under folder, in name order so that every machine joins
// them alike, up to InputCap.
inline bool SourceText(const fs::path& folder, Bytes& out) {
  std::error_code error;
  std::vector<fs::path> files;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const fs::path ext = it->path().extension();
    if (it->is_regular_file() && (ext == ".h" || ext == ".cpp")) files.push_back(it->path());
  }
  if (error || files.empty()) return false;
  std::sort(files.begin(), files.end());
  out.clear();
  for (const fs::path& f : files) {
    Bytes text;
    if (!ReadWhole(f, text)) return false;
    out.insert(out.end(), text.begin(), text.end());
    if (out.size() >= InputCap) break;
  }
  return true;
}

// The first InputCap bytes of a file: an executable, for machine code.
inline bool ExecutableHead(const fs::path& path, Bytes& out) {
  if (!ReadWhole(path, out)) return false;
  if (out.size() > InputCap) out.resize(InputCap);
  return !out.empty();
}

}  // namespace bench_inputs
