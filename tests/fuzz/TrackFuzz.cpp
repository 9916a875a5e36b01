// Any bytes as a binary track file, read by the demo's loader from a file and
// evaluated the way frames evaluate it. Besides the sanitizers' watch, the
// checks are the loader's promises to the key search and to demotool: keys
// strictly ascending, never more than the bytes hold, the same keys the
// scanner reports, a lossless write and read back, and the value held before
// the first key, after the last and on each step key.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "sync/TrackFile.h"
#include "sync/Tracks.h"

namespace {

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameKeys(const TrackKey* a, const TrackKey* b, size_t count) {
  for (size_t k = 0; k < count; ++k) {
    if (a[k].row != b[k].row || a[k].kind != b[k].kind || !SameBits(a[k].value, b[k].value)) return false;
  }
  return true;
}

// In memory where the system offers it: a file is written on every run, and
// removed when the fuzzer exits.
struct Scratch {
  std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") + "/fuzz_track_" +
                     std::to_string(getpid()) + ".track";
  ~Scratch() { std::remove(path.c_str()); }
};

const std::string& ScratchFile() {
  static const Scratch scratch;
  return scratch.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(ScratchFile().c_str(), "wb");
  if (!f) std::abort();
  if (size && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);

  Track track{};
  (void)LoadTrackFile(ScratchFile().c_str(), &track);
  const size_t count = track.keyCount > 0 ? size_t(track.keyCount) : 0;
  if (track.keyCount < 0 || (count > 0 && !track.keys)) std::abort();
  if (count > (size < TrackFileHeaderBytes ? 0 : (size - TrackFileHeaderBytes) / TrackFileKeyBytes)) std::abort();
  for (size_t k = 1; k < count; ++k) {
    if (track.keys[k].row <= track.keys[k - 1].row) std::abort();
  }

  // The loader keeps what the scanner reads, or nothing.
  const TrackFileScan scan = ScanTrackBytes(size ? data : nullptr, size);
  if (count > 0 && (count != scan.keys.size() || !SameKeys(track.keys, scan.keys.data(), count))) std::abort();

  // Written and read back, the keys come back bit for bit.
  const std::vector<uint8_t> encoded = EncodeTrackFile(track.keys, int32_t(count));
  const TrackFileScan again = ScanTrackBytes(encoded.data(), encoded.size());
  if (again.keys.size() != count || !SameKeys(track.keys, again.keys.data(), count)) std::abort();

  if (count > 0) {
    const TrackKey& first = track.keys[0];
    const TrackKey& last = track.keys[count - 1];
    for (double row : {-1e300, -2147483649.0, double(first.row) - 0.5}) {
      if (row < first.row && !SameBits(TrackValue(&track, row), first.value)) std::abort();
    }
    for (double row : {double(last.row), double(last.row) + 0.25, 2147483648.0, 1e300}) {
      if (!SameBits(TrackValue(&track, row), last.value)) std::abort();
    }
    for (size_t k = 0; k < count; ++k) {
      const TrackKey& key = track.keys[k];
      if (FindKey(&track, key.row) != int32_t(k)) std::abort();
      if (key.kind == KindStep && !SameBits(TrackValue(&track, key.row + 0.5), key.value)) std::abort();
      // Between keys every kind must at least not trip the sanitizers.
      (void)TrackValue(&track, double(key.row) + 0.75);
      if (k + 1 < count) (void)TrackValue(&track, (double(key.row) + double(track.keys[k + 1].row)) / 2);
    }
  }
  delete[] track.keys;
  return 0;
}
