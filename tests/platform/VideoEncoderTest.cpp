// The video encoder on FFmpeg's libraries: what it hands the picture
// converter, which reads more than the RGBA picture's one plane.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/VideoEncoder.h"
#include "platform/VideoEncoderTesting.h"

namespace {

namespace fs = std::filesystem;

VideoScaleFunction realScale = nullptr;
bool unusedPlanesEmpty = true;

// Reads the four planes and strides as the converter does (under
// AddressSanitizer a shorter array is caught here), then converts.
int CheckingScale(SwsContext* context, const uint8_t* const source[], const int strides[], int y, int height,
                  uint8_t* const target[], const int targetStrides[]) {
  for (int plane = 1; plane < 4; ++plane) {
    if (source[plane] != nullptr || strides[plane] != 0) unusedPlanesEmpty = false;
  }
  return realScale(context, source, strides, y, height, target, targetStrides);
}

TEST(VideoEncoder, HandsTheConverterFourPlanesWithTheUnusedOnesEmpty) {
  realScale = ReplaceVideoScaleFunction(CheckingScale);
  if (!realScale) GTEST_SKIP() << "FFmpeg's libraries cannot be loaded";
  const fs::path path = fs::temp_directory_path() / ("encoder-" + std::to_string(getpid()) + ".mkv");
  VideoEncoderSettings settings;
  settings.path = path.string();
  settings.container = VideoContainer::Matroska;
  settings.width = 32;
  settings.height = 16;
  std::string error;
  VideoEncoder* encoder = OpenVideoEncoder(settings, error);
  ASSERT_NE(encoder, nullptr) << error;
  const std::vector<uint8_t> picture(32 * 16 * 4, 200);
  EXPECT_TRUE(EncodeVideoFrame(encoder, picture.data(), error)) << error;
  EXPECT_TRUE(FinishVideoEncoder(encoder, error)) << error;
  ReplaceVideoScaleFunction(realScale);
  EXPECT_TRUE(unusedPlanesEmpty);
  EXPECT_GT(fs::file_size(path), 0u);
  fs::remove(path);
}

}  // namespace
