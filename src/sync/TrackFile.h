// Binary track files: a little-endian int32 key count N, then N keys of nine
// bytes each (int32 row, IEEE single-precision value, signed 8-bit kind), no
// header beyond the count, no padding. This is the byte-level reader and
// writer shared by the demo's loader and by demotool, with every irregularity
// the bytes may hold spelled out as findings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sync/TrackKey.h"

inline constexpr std::size_t TrackFileHeaderBytes = 4;
inline constexpr std::size_t TrackFileKeyBytes = 9;

// A track's file inside the show folder: "steak_NAME.track".
inline constexpr char TrackFilePrefix[] = "steak_";
inline constexpr char TrackFileSuffix[] = ".track";
std::string TrackFileName(const std::string& trackName);

enum class TrackFileProblem {
  EmptyFile,         // 0 bytes: a track without keys
  ShortHeader,       // 1 to 3 bytes: not even a whole count
  NegativeCount,     // the count is below zero: no keys
  ShortFile,         // fewer whole keys than the count promises: the rest are dropped
  TrailingBytes,     // bytes after the last key: never read
  RowsNotAscending,  // a key's row is not above the previous one: the file is refused
  NonFiniteValue,    // a value is NaN or infinite: kept as it is, the picture goes astray there
  UnknownKind,       // a kind outside 0..3: that stretch evaluates to 0.0
};

struct TrackFileFinding {
  TrackFileProblem problem;
  int32_t keyIndex;  // the key concerned, or -1 for the file as a whole
  std::string message;
};

struct TrackFileScan {
  int32_t declaredCount = 0;           // the count as stored (0 when absent)
  std::vector<TrackKey> keys;          // the whole keys present, at most the count
  std::vector<TrackFileFinding> findings;
  bool refused = false;                // the demo loads no keys from these bytes
};

// Reads a track file's bytes. Never reads past size and never trusts the count
// for an allocation: keys are only what the bytes actually hold.
TrackFileScan ScanTrackBytes(const uint8_t* data, std::size_t size);

// The file bytes for these keys. Each kind is stored as its low byte, so kinds
// outside -128..127 do not survive; callers that care check first.
std::vector<uint8_t> EncodeTrackFile(const TrackKey* keys, int32_t count);

// Whole contents of a file by the demo's path rules; false when it cannot be
// opened or read, or holds more than TrackFileReadLimit bytes (far beyond any
// real track, and a guard against reading a device such as /dev/zero forever).
inline constexpr std::size_t TrackFileReadLimit = std::size_t(256) << 20;
bool ReadWholeTrackFile(const char* path, std::vector<uint8_t>& bytes);
