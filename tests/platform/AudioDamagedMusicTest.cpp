// Damaged copies of the bundled music, with an output device and without
// one: each is named in one line on stderr, and the clock still runs over
// the whole length the music announces (a file cut in half plays its silent
// rest instead of ending the show at the cut).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/Audio.h"
#include "platform/AudioTesting.h"

namespace {

const char* const Music = DEMO_SOURCE_DIR "/res/Quelf - Tavoy Rip.mp3";

std::vector<char> Bytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

double Position(uint32_t stream) { return AudioBytesToSeconds(stream, AudioPositionBytes(stream)); }

TEST(AudioDamagedMusic, EachDamageIsNamedAndTheClockRuns) {
  const std::vector<char> whole = Bytes(Music);
  ASSERT_GT(whole.size(), 100000u);
  std::vector<char> noise(whole.size());
  uint32_t seed = 2024;
  for (char& c : noise) c = char((seed = seed * 1103515245u + 12345u) >> 24);
  struct Case {
    const char* name;
    std::vector<char> bytes;
    const char* said;  // in the one line on stderr; null: nothing to say
  };
  const Case cases[] = {
      {"intact", whole, nullptr},
      {"cut in half", std::vector<char>(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() / 2)),
       "damaged after"},
      {"empty", {}, "empty"},
      {"random bytes", noise, "silently"},
      {"text", std::vector<char>(100, 'x'), "silently"},
  };
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("audio-damaged-" + std::to_string(std::random_device()()));
  std::filesystem::create_directories(dir);
  for (const bool device : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (device ? ", with a device" : ", without a device"));
      const std::string path = (dir / (std::string(c.name) + ".mp3")).string();
      std::ofstream(path, std::ios::binary).write(c.bytes.data(), std::streamsize(c.bytes.size()));
      SetAudioStandInDevice(true);
      SetAudioDeviceOpenFails(!device);
      testing::internal::CaptureStderr();
      AudioOpenOutput(44100);
      testing::internal::GetCapturedStderr();  // "no device", when so

      testing::internal::CaptureStderr();
      const uint32_t stream = AudioOpenStream(path.c_str());
      const std::string said = testing::internal::GetCapturedStderr();
      if (c.said) {
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find(path), std::string::npos) << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
      } else {
        EXPECT_EQ(said, "");
      }
      // Past the cut: the rest of the announced length goes by, never faster
      // than time (how soon a device is heard depends on the machine's load).
      AudioStartOutput();
      const auto start = std::chrono::steady_clock::now();
      AudioPlayFrom(stream, 100.0);
      double at = Position(stream);
      double elapsed = 0.0;
      while (at <= 100.15 && elapsed < 10.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        at = Position(stream);
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      }
      EXPECT_GT(at, 100.15);
      EXPECT_LE(at, 100.0 + elapsed + 0.05);
      ShutdownAudio();
      SetAudioDeviceOpenFails(false);
      SetAudioStandInDevice(false);
    }
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
}

}  // namespace
