// Track store: the registry of named tracks, the track file reader and the
// evaluation of a track at a fractional row.
//
// The arithmetic of TrackValue is part of the show's look: values are compared
// bit for bit in single precision, so every step below keeps the precision and
// the order of operations the track format was designed with (double for the
// interpolation, one rounding to float at the end, no fused multiply-adds).
#include "sync/Tracks.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/Files.h"
#include "platform/Messages.h"
#include "show/ShowTable.h"
#include "sync/TrackFile.h"

namespace {

// The one registry GetTrack uses; set by CreateTrackSet.
TrackSet* ActiveTrackSet = nullptr;

// The path builder's buffer, reused by every TrackFilePath call. In the
// folder "res" the fixed pieces "res/", "steak_" and ".track" take 16
// characters and the terminator one more, which leaves 243 for the name; a
// longer show folder leaves less.
constexpr std::size_t TrackPathCapacity = 260;
char TrackPathBuffer[TrackPathCapacity] = {};

char* CopyText(const char* text) {
  const std::size_t length = std::strlen(text);
  char* copy = new char[length + 1];
  std::memcpy(copy, text, length + 1);
  return copy;
}

// Reads the count and at most the keys it promises, stopping at the end of the
// file: a huge count in a small file costs nothing, and bytes after the last
// key are never touched.
bool ReadTrackFileHead(std::FILE* f, std::vector<uint8_t>& bytes) {
  uint8_t header[TrackFileHeaderBytes];
  const std::size_t got = std::fread(header, 1, sizeof header, f);
  bytes.assign(header, header + got);
  if (got < sizeof header) return !std::ferror(f);
  const int32_t count = int32_t(uint32_t(header[0]) | uint32_t(header[1]) << 8 |
                                uint32_t(header[2]) << 16 | uint32_t(header[3]) << 24);
  if (count <= 0) return true;
  std::size_t wanted = std::size_t(count) * TrackFileKeyBytes;
  uint8_t chunk[16384];
  while (wanted > 0) {
    const std::size_t n = std::fread(chunk, 1, wanted < sizeof chunk ? wanted : sizeof chunk, f);
    if (n == 0) break;
    bytes.insert(bytes.end(), chunk, chunk + n);
    wanted -= n;
  }
  return !std::ferror(f);
}

}  // namespace

TrackSet* CurrentTrackSet() { return ActiveTrackSet; }

TrackSet* CreateTrackSet(const char* baseName) {
  TrackSet* set = new TrackSet;
  set->baseName = CopyText(baseName ? baseName : "");
  set->tracks = nullptr;
  set->trackCount = 0;
  ActiveTrackSet = set;
  return set;
}

void DestroyTrackSet(TrackSet* set) {
  if (!set) return;
  for (int32_t i = 0; i < set->trackCount; ++i) {
    delete[] set->tracks[i]->name;
    delete[] set->tracks[i]->keys;
    delete set->tracks[i];
  }
  std::free(set->tracks);
  delete[] set->baseName;
  if (ActiveTrackSet == set) ActiveTrackSet = nullptr;
  delete set;
}

int32_t FindTrack(const TrackSet* set, const char* name) {
  if (!set || !name || set->trackCount <= 0) return -1;
  for (int32_t i = 0; i < set->trackCount; ++i) {
    if (std::strcmp(set->tracks[i]->name, name) == 0) return i;
  }
  return -1;
}

Track* RegisterTrack(const char* name) {
  if (!name) name = "";
  // A request before start-up created the registry would have nowhere to go;
  // the registry is created then, under the name start-up gives it.
  if (!ActiveTrackSet) CreateTrackSet("sync");
  TrackSet* set = ActiveTrackSet;

  const int32_t found = FindTrack(set, name);
  if (found >= 0) return set->tracks[found];

  Track* track = new Track;
  track->name = CopyText(name);
  track->keys = nullptr;
  track->keyCount = 0;

  // Grown by exactly one entry per track: the registry is filled once at
  // start-up with a handful of tracks.
  void* grown = std::realloc(set->tracks, sizeof(Track*) * std::size_t(set->trackCount + 1));
  if (!grown) {
    Say(Subsystem::Tracks, "out of memory while registering a track");
    std::abort();
  }
  set->tracks = static_cast<Track**>(grown);
  set->tracks[set->trackCount] = track;
  set->trackCount += 1;
  return track;
}

Track* GetTrack(const char* name) {
  if (!name) name = "";
  if (ActiveTrackSet) {
    const int32_t found = FindTrack(ActiveTrackSet, name);
    if (found >= 0) return ActiveTrackSet->tracks[found];
  }
  Track* track = RegisterTrack(name);

  // A track whose file is missing or damaged stays registered with what could
  // be read, usually nothing, so it evaluates to 0.0 and the show runs on; the
  // show maker learns which file and what became of the track.
  const char* path = TrackFilePath(name);
  std::string problem;
  if (path && LoadTrackFile(path, track, &problem) != TrackLoad::Loaded) {
    if (track->keyCount > 0)
      Say(Subsystem::Tracks, "%s: %s; %s keeps its first %d key(s)", path, problem.c_str(), name,
          int(track->keyCount));
    else
      Say(Subsystem::Tracks, "%s: %s; %s is 0 throughout", path, problem.c_str(), name);
  }
  return track;
}

const char* TrackFilePath(const char* name) {
  if (!name) name = "";
  const std::string path = ShowFilePath(std::string(TrackFilePrefix) + name + TrackFileSuffix);
  if (path.size() >= TrackPathCapacity) {
    const std::size_t fixed = path.size() - std::strlen(name);
    const std::size_t most = fixed < TrackPathCapacity - 1 ? TrackPathCapacity - 1 - fixed : 0;
    Say(Subsystem::Tracks, "track name of %zu characters is too long for a file path (at most %zu); "
        "it is 0 throughout", std::strlen(name), most);
    return nullptr;
  }
  std::memcpy(TrackPathBuffer, path.c_str(), path.size() + 1);
  return TrackPathBuffer;
}

TrackLoad LoadTrackFile(const char* path, Track* track, std::string* problem) {
  std::string unused;
  std::string& why = problem ? *problem : unused;
  if (!path || !track) {
    why = "no file";
    return TrackLoad::CannotOpen;
  }
  std::FILE* f = OpenDataFile(path, "rb");
  if (!f) {
    why = std::string("cannot be opened (") + std::strerror(errno) + ")";
    return TrackLoad::CannotOpen;
  }
  std::vector<uint8_t> bytes;
  const bool readOk = ReadTrackFileHead(f, bytes);
  std::fclose(f);

  delete[] track->keys;
  track->keys = nullptr;
  track->keyCount = 0;
  track->lastKey = -1;
  if (!readOk) {
    why = "read error";
    return TrackLoad::Damaged;
  }
  const TrackFileScan scan = ScanTrackBytes(bytes.data(), bytes.size());
  if (scan.refused) {
    // Keys out of order would break the key search, and two keys on one row
    // would divide by zero.
    for (const TrackFileFinding& finding : scan.findings) {
      if (finding.problem == TrackFileProblem::RowsNotAscending) {
        why = "key " + std::to_string(finding.keyIndex) + ": " + finding.message + "; the file is refused";
        break;
      }
    }
    return TrackLoad::Damaged;
  }
  track->keyCount = int32_t(scan.keys.size());
  track->keys = new TrackKey[scan.keys.size()];
  if (!scan.keys.empty()) std::memcpy(track->keys, scan.keys.data(), scan.keys.size() * sizeof(TrackKey));

  // Only what a half-copied or foreign file shows is damage. Trailing bytes,
  // unknown kinds and non-finite values have a defined meaning and are left
  // to demotool's checks.
  for (const TrackFileFinding& finding : scan.findings) {
    switch (finding.problem) {
      case TrackFileProblem::EmptyFile:
      case TrackFileProblem::ShortHeader:
      case TrackFileProblem::NegativeCount:
      case TrackFileProblem::ShortFile:
        why = finding.message;
        return TrackLoad::Damaged;
      default:
        break;
    }
  }
  return TrackLoad::Loaded;
}

namespace {

// The index of the last key whose row is at most `row`: on a key's row that
// key, between two keys the earlier one, before the first key -1. A binary
// search without a data-dependent branch: on a long track at random rows a
// branching search mispredicts about once per halving, which costs more than
// the halvings themselves. The keys are strictly ascending (the reader refuses
// anything else), so the last key at or before the row is unique.
inline int32_t LastKeyAtOrBefore(const TrackKey* keys, int32_t count, int32_t row) {
  const TrackKey* base = keys;
  int32_t n = count;
  while (n > 1) {
    const int32_t half = n / 2;
    base = base[half].row <= row ? base + half : base;
    n -= half;
  }
  return int32_t(base - keys) - (base->row > row ? 1 : 0);
}

// The last key at or before the row, trying the key found last time and the one
// after it before searching. Both answers are the same for ascending keys: a
// key whose row is at most the row while the next key's row is above it is the
// one the search finds.
inline int32_t KeyForRow(const Track* track, int32_t row) {
  const TrackKey* keys = track->keys;
  const int32_t count = track->keyCount;
  const int32_t hint = track->lastKey;
  if (hint >= -1 && hint < count) {
    const bool atOrAfterHint = hint < 0 || keys[hint].row <= row;
    if (atOrAfterHint) {
      if (hint + 1 >= count || keys[hint + 1].row > row) return hint;
      if (hint + 2 >= count || keys[hint + 2].row > row) return track->lastKey = hint + 1;
    }
  }
  return track->lastKey = LastKeyAtOrBefore(keys, count, row);
}

// The value between two ascending keys a and b at a row with
// a.row <= floor(row) < b.row.
inline float Interpolate(const TrackKey& a, const TrackKey& b, double row) {
  // The row distance is exact in double: both rows are whole numbers of at
  // most 31 bits, so their difference needs at most 33.
  const double t = (row - double(a.row)) / (double(b.row) - double(a.row));
  const double va = a.value;
  const double delta = double(b.value) - va;

  // Step gives the key's value as stored (va + 0 * delta would turn -0 into
  // +0); any kind but the four gives 0.0. The Ramp factor is t to the power
  // 2.0, which is exactly t * t. A branch on the kind measured faster than
  // computing every factor and picking one, at random rows as in playback.
  switch (a.kind) {
    case KindStep: return a.value;
    case KindLinear: return float(va + t * delta);
    case KindSmooth: return float(va + (3.0 - (t + t)) * (t * t) * delta);
    case KindRamp: return float(va + std::pow(t, 2.0) * delta);
    default: return 0.0f;
  }
}

}  // namespace

int32_t FindKey(const Track* track, int32_t row) {
  if (!track || !track->keys || track->keyCount <= 0) return -1;
  return LastKeyAtOrBefore(track->keys, track->keyCount, row);
}

namespace {

// TrackValue for a row away from the remembered key: searched for, and kept
// out of line so that TrackValue, which nearly always answers from the
// remembered key, stays small.
__attribute__((noinline)) float TrackValueBySearch(const Track* track, double row) {
  const TrackKey* keys = track->keys;
  const int32_t last = track->keyCount - 1;

  // Rows outside the int32 range lie before or after every key; converting
  // them to int32 would be undefined. NaN counts as before the first key.
  if (!(row >= -2147483648.0)) return keys[0].value;
  if (row >= 2147483648.0) return keys[last].value;

  const int32_t i = KeyForRow(track, int32_t(std::floor(row)));
  if (i < 0) return keys[0].value;
  if (i > last - 1) return keys[last].value;

  const TrackKey& a = keys[i];
  const TrackKey& b = keys[i + 1];
  // Keys that do not ascend (never loaded from a file, but a hand-built track
  // may hold them) hold their value.
  if (b.row <= a.row) return a.kind >= KindStep && a.kind <= KindRamp ? a.value : 0.0f;
  return Interpolate(a, b, row);
}

}  // namespace

float TrackValue(const Track* track, double row) {
  if (!track || track->keyCount <= 0 || !track->keys) return 0.0f;
  const TrackKey* keys = track->keys;
  const int32_t last = track->keyCount - 1;

  // Playback: the row nearly always still lies between the key found last
  // time and the next one. Comparing the fractional row with the two keys'
  // rows says so without flooring or range checks (both are whole numbers, so
  // a.row <= row < b.row holds exactly when floor(row) lies in between, and a
  // NaN row fails it), and the answer is the one TrackValueBySearch would give.
  const int32_t hint = track->lastKey;
  if (uint32_t(hint) < uint32_t(last)) {
    const TrackKey& a = keys[hint];
    const TrackKey& b = keys[hint + 1];
    if (row >= double(a.row) && row < double(b.row)) return Interpolate(a, b, row);
  } else if (hint == last && row >= double(keys[last].row)) {
    return keys[last].value;
  }
  return TrackValueBySearch(track, row);
}
