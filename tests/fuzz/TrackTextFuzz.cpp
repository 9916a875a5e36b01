// Any text to the track compiler. Whatever it accepts must survive both ways
// demotool moves tracks: compiled to track file bytes and read back by the
// demo's scanner, and printed as text and compiled again, each bit for bit;
// every error it reports names a line of the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sync/TrackFile.h"
#include "sync/TrackText.h"

namespace {

bool SameKeys(const std::vector<TrackKey>& a, const std::vector<TrackKey>& b) {
  if (a.size() != b.size()) return false;
  for (size_t k = 0; k < a.size(); ++k) {
    if (a[k].row != b[k].row || a[k].kind != b[k].kind ||
        std::memcmp(&a[k].value, &b[k].value, sizeof(float)) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<TrackTextError> errors;
  const std::vector<TrackSource> tracks = ParseTrackText(text, errors);
  if (!errors.empty()) {
    const long lines = 1 + long(std::count(text.begin(), text.end(), '\n'));
    for (const TrackTextError& e : errors) {
      if (e.line < 1 || e.line > lines || e.message.empty()) std::abort();
    }
    return 0;
  }
  for (const TrackSource& track : tracks) {
    std::string why;
    if (!IsValidTrackName(track.name, why)) std::abort();
    for (size_t k = 1; k < track.keys.size(); ++k) {
      if (track.keys[k].row <= track.keys[k - 1].row) std::abort();
    }
    const std::vector<uint8_t> file = EncodeTrackFile(track.keys.data(), int32_t(track.keys.size()));
    const TrackFileScan scan = ScanTrackBytes(file.data(), file.size());
    if (scan.refused || !SameKeys(scan.keys, track.keys)) std::abort();

    const std::string printed = FormatTrackText(track.name, track.keys.data(), int32_t(track.keys.size()));
    std::vector<TrackTextError> again;
    const std::vector<TrackSource> reparsed = ParseTrackText(printed, again);
    if (!again.empty() || reparsed.size() != 1 || reparsed[0].name != track.name ||
        !SameKeys(reparsed[0].keys, track.keys)) {
      std::abort();
    }
  }
  return 0;
}
