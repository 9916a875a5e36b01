// Byte-level reading and writing of track files, independent of the registry.
#include "sync/TrackFile.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"

namespace {

int32_t ReadInt32(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  int32_t out;
  std::memcpy(&out, &v, sizeof out);
  return out;
}

float ReadFloat32(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  float out;
  std::memcpy(&out, &v, sizeof out);
  return out;
}

void WriteUint32(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v >> 16));
  out.push_back(uint8_t(v >> 24));
}

void Add(TrackFileScan& scan, TrackFileProblem problem, int32_t key, std::string message) {
  scan.findings.push_back({problem, key, std::move(message)});
}

}  // namespace

std::string TrackFileName(const std::string& trackName) {
  return TrackFilePrefix + trackName + TrackFileSuffix;
}

TrackFileScan ScanTrackBytes(const uint8_t* data, std::size_t size) {
  TrackFileScan scan;
  if (size == 0) {
    Add(scan, TrackFileProblem::EmptyFile, -1, "empty file: the track has no keys and evaluates to 0");
    return scan;
  }
  if (size < TrackFileHeaderBytes) {
    Add(scan, TrackFileProblem::ShortHeader, -1,
        "only " + std::to_string(size) + " byte(s): no whole key count");
    return scan;
  }
  scan.declaredCount = ReadInt32(data);
  std::size_t body = size - TrackFileHeaderBytes;
  if (scan.declaredCount < 0) {
    Add(scan, TrackFileProblem::NegativeCount, -1,
        "negative key count " + std::to_string(scan.declaredCount) + ": no keys");
    if (body > 0)
      Add(scan, TrackFileProblem::TrailingBytes, -1,
          std::to_string(body) + " byte(s) after the count are never read");
    return scan;
  }

  const std::size_t promised = std::size_t(scan.declaredCount);
  const std::size_t present = body / TrackFileKeyBytes;
  const std::size_t keyCount = present < promised ? present : promised;
  if (present < promised) {
    Add(scan, TrackFileProblem::ShortFile, int32_t(keyCount),
        "count is " + std::to_string(promised) + " but the file holds " + std::to_string(present) +
            " whole key(s)" + (body % TrackFileKeyBytes ? " and a partial one" : "") +
            ": keys from " + std::to_string(keyCount) + " on are dropped");
  } else if (body > promised * TrackFileKeyBytes) {
    Add(scan, TrackFileProblem::TrailingBytes, -1,
        std::to_string(body - promised * TrackFileKeyBytes) + " byte(s) after the last key are never read");
  }

  scan.keys.resize(keyCount);
  for (std::size_t k = 0; k < keyCount; ++k) {
    const uint8_t* p = data + TrackFileHeaderBytes + k * TrackFileKeyBytes;
    TrackKey& key = scan.keys[k];
    key.row = ReadInt32(p);
    key.value = ReadFloat32(p + 4);
    key.kind = int32_t(int8_t(p[8]));
    const int32_t index = int32_t(k);
    if (k > 0 && key.row <= scan.keys[k - 1].row) {
      Add(scan, TrackFileProblem::RowsNotAscending, index,
          "row " + std::to_string(key.row) + " does not follow row " + std::to_string(scan.keys[k - 1].row) +
              " of key " + std::to_string(k - 1) + " (rows must be strictly ascending)");
      scan.refused = true;
    }
    if (!std::isfinite(key.value)) {
      Add(scan, TrackFileProblem::NonFiniteValue, index,
          std::string("value is ") + (std::isnan(key.value) ? "NaN" : "infinite") +
              " (kept: whatever it drives goes astray there)");
    }
    if (key.kind < KindStep || key.kind > KindRamp) {
      Add(scan, TrackFileProblem::UnknownKind, index,
          "unknown kind " + std::to_string(key.kind) +
              (k + 1 < keyCount ? ": the stretch to the next key evaluates to 0" : " (last key: never used)"));
    }
  }
  return scan;
}

std::vector<uint8_t> EncodeTrackFile(const TrackKey* keys, int32_t count) {
  if (count < 0) count = 0;
  std::vector<uint8_t> out;
  out.reserve(TrackFileHeaderBytes + std::size_t(count) * TrackFileKeyBytes);
  WriteUint32(out, uint32_t(count));
  for (int32_t k = 0; k < count; ++k) {
    uint32_t row, value;
    std::memcpy(&row, &keys[k].row, 4);
    std::memcpy(&value, &keys[k].value, 4);
    WriteUint32(out, row);
    WriteUint32(out, value);
    out.push_back(uint8_t(keys[k].kind));
  }
  return out;
}

bool ReadWholeTrackFile(const char* path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  return path && ReadDataFile(path, bytes, TrackFileReadLimit) == FileRead::Ok;
}
