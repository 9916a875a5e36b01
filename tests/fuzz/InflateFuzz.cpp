// Any bytes as a zlib stream: the inflater must return a documented code
// without reading outside the input, give the same code and bytes as the
// bit-by-bit walk (with no limit and with a limit inside the output), and
// whatever zlib accepts it must accept too and decode to the same bytes (zlib
// is the stricter of the two: it also checks the trailer and refuses
// incomplete codes).
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "png/Inflate.h"

namespace {

// zlib's result, or false when zlib refuses the stream or it grows too large.
bool zlibInflate(const uint8_t* data, size_t size, std::vector<unsigned char>& out) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  out.resize(1 << 16);
  int status;
  do {
    if (z.total_out == out.size()) {
      if (out.size() >= (64u << 20)) break;
      out.resize(out.size() * 2);
    }
    z.next_out = out.data() + z.total_out;
    z.avail_out = static_cast<uInt>(out.size() - z.total_out);
    status = inflate(&z, Z_NO_FLUSH);
  } while (status == Z_OK);
  const bool ok = status == Z_STREAM_END;
  out.resize(z.total_out);
  inflateEnd(&z);
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<unsigned char> out;
  const int error = decompressZlib(out, data, data + size);
  // Codes outside the documented set mean a path nobody has thought about.
  switch (error) {
    case 0: case 10: case 11: case 13: case 14: case 15: case 16: case 18: case 20: case 21:
    case 23: case 24: case 25: case 26: case 49: case 50: case 51: case 52: case 53: case 54:
    case 55: case 64: case 65:
      break;
    default:
      std::abort();
  }
  // The walk is the definition: same code, and on success the same bytes.
  std::vector<unsigned char> walked;
  if (decompressZlibReference(walked, data, data + size) != error || (error == 0 && walked != out)) std::abort();
  // So must the plain fast loop, which a processor with BMI2 never runs otherwise.
  std::vector<unsigned char> plain;
  inflateForcePlainLoop(true);
  const int plainError = decompressZlib(plain, data, data + size);
  inflateForcePlainLoop(false);
  if (plainError != error || (error == 0 && plain != out)) std::abort();
  if (error == 0 && !out.empty()) {
    const size_t limit = out.size() - 1 - (size ? data[size - 1] : 0) % out.size();
    std::vector<unsigned char> limited, walkedLimited;
    const int limitedError = decompressZlib(limited, data, data + size, limit);
    if (limitedError != 65 ||
        decompressZlibReference(walkedLimited, data, data + size, limit) != limitedError)
      std::abort();
  }
  std::vector<unsigned char> reference;
  if (zlibInflate(data, size, reference) && (error != 0 || out != reference)) std::abort();
  return 0;
}
