// Placing the system's mp3 codec deep in the music (for a seek or a scrub)
// gives the same audio as decoding there from the start, without decoding
// all that lies before.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/windows/AudioAcmMp3.h"

namespace {

std::vector<uint8_t> Music() {
  std::ifstream in(DEMO_SOURCE_DIR "/res/Quelf - Tavoy Rip.mp3", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<int16_t> Decode(AcmMp3Decoder* decoder, size_t samples) {
  std::vector<int16_t> out(samples);
  const size_t got = DecodeAcmMp3(decoder, reinterpret_cast<uint8_t*>(out.data()), samples * 2);
  out.resize(got / 2);
  return out;
}

TEST(AcmMp3Place, APlacedDecoderGivesWhatDecodingFromTheStartGives) {
  std::string why;
  AcmMp3Decoder* whole = OpenAcmMp3Decoder(Music(), why);
  AcmMp3Decoder* placed = OpenAcmMp3Decoder(Music(), why);
  ASSERT_NE(whole, nullptr) << why;
  ASSERT_NE(placed, nullptr) << why;
  const int channels = AcmMp3Channels(whole);
  const std::vector<int16_t> reference = Decode(whole, size_t(200 * AcmMp3Rate(whole)) * size_t(channels));
  const uint64_t frames = reference.size() / size_t(channels);
  ASSERT_GT(frames, uint64_t(60 * AcmMp3Rate(whole)));

  constexpr uint64_t Compared = 4096;
  const struct {
    const char* name;
    uint64_t target;  // sample frames
  } cases[] = {
      {"the start", 0},
      {"within the first frames", 3000},
      {"just past the lead", 1152 * 5 + 17},
      {"thirty seconds in", uint64_t(30 * AcmMp3Rate(whole))},
      {"near the end", frames - Compared},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    uint64_t at = 0;
    ASSERT_TRUE(PlaceAcmMp3Decoder(placed, c.target, at));
    EXPECT_LE(at, c.target);
    EXPECT_LE(c.target - at, uint64_t(5 * 1152)) << "placed too far back: decoding all before it";
    Decode(placed, size_t(c.target - at) * size_t(channels));
    const std::vector<int16_t> got = Decode(placed, size_t(Compared) * size_t(channels));
    ASSERT_EQ(got.size(), size_t(Compared) * size_t(channels));
    int largest = 0;
    for (size_t i = 0; i < got.size(); ++i) {
      largest = std::max(largest, std::abs(int(got[i]) - int(reference[size_t(c.target) * size_t(channels) + i])));
    }
    // The codec's filter state differs in its last bits after a fresh
    // start; a sample out of place would differ by hundreds.
    EXPECT_LE(largest, 8);
  }
  CloseAcmMp3Decoder(whole);
  CloseAcmMp3Decoder(placed);
}

}  // namespace
