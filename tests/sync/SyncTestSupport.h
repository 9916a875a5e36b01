// Helpers shared by the sync tests: scratch folders, files, hand-built tracks.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "sync/Tracks.h"

// A fresh folder under the system's temporary folder, removed at destruction.
class ScratchDir {
 public:
  ScratchDir() {
    // create_directory is false for a name that exists: another test's folder
    // is never taken over.
    std::random_device random;
    const std::filesystem::path temp = std::filesystem::temp_directory_path();
    for (int attempt = 0;; ++attempt) {
      if (attempt == 100) std::abort();
      path_ = temp / ("sync-test-" + std::to_string(random()));
      if (std::filesystem::create_directory(path_)) break;
    }
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::string operator/(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// Runs in a folder for the lifetime of the object, then goes back.
class WorkingDir {
 public:
  explicit WorkingDir(const std::filesystem::path& dir) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~WorkingDir() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
};

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Little-endian pieces of a track file, written by hand so that the tests do
// not lean on the encoder they check.
inline void PutInt32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void PutKey(std::vector<uint8_t>& out, int32_t row, float value, int8_t kind) {
  uint32_t bits;
  std::memcpy(&bits, &value, 4);
  PutInt32(out, uint32_t(row));
  PutInt32(out, bits);
  out.push_back(uint8_t(kind));
}

inline uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

// A track over keys the test owns.
struct TestTrack {
  std::vector<TrackKey> keys;
  Track track{};
  explicit TestTrack(std::vector<TrackKey> k) : keys(std::move(k)) {
    track.name = nullptr;
    track.keys = keys.empty() ? nullptr : keys.data();
    track.keyCount = int32_t(keys.size());
  }
  TestTrack(const TestTrack&) = delete;
  TestTrack& operator=(const TestTrack&) = delete;
};
