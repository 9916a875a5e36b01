// The start-up sequence in an offscreen context over a copy of the bundled
// show: what each loading frame shows, the order of frames and image loads,
// and the clock standing still until the music starts.
#include <GL/gl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "image/TextureTable.h"
#include "platform/Display.h"
#include "shell/Projection.h"
#include "shell/StartUp.h"
#include "shell/StartUpTesting.h"
#include "support/GlTestContext.h"
#include "sync/MusicClock.h"

namespace fs = std::filesystem;

namespace {

constexpr int Width = 320;
constexpr int Height = 180;

struct Event {
  std::string what;  // "frame:<text>" or "image:<slot>"
  double row;
  int slotsLoaded;   // slots 0..6 that hold a texture image at that moment
  bool loadingColourInCorner = false;
  bool whiteInMiddle = false;
};

std::vector<Event> events;

int TextureWidth(GLuint name) {
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  glBindTexture(GL_TEXTURE_2D, name);
  GLint width = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
  return width;
}

int SlotsLoaded() {
  int n = 0;
  while (n < 7 && TextureTable[n] != 0 && TextureWidth(TextureTable[n]) > 0) ++n;
  return n;
}

bool Near(testsupport::Rgba p, int r, int g, int b) {
  return std::abs(p.r - r) <= 2 && std::abs(p.g - g) <= 2 && std::abs(p.b - b) <= 2;
}

void OnFrame(const char* text) {
  const auto pixels = testsupport::ReadPixels(Width, Height);
  Event e{std::string("frame:") + (text ? text : "(none)"), CurrentRow(), SlotsLoaded()};
  e.loadingColourInCorner = Near(testsupport::PixelAt(pixels, Width, Height, 2, 2), 255, 51, 128);
  // The text's ink is centred on the middle column: its left and right ends
  // lie at equal distances from it, give or take the glyphs' side bearings.
  int left = Width, right = -1;
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      if (Near(testsupport::PixelAt(pixels, Width, Height, x, y), 255, 255, 255)) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
  }
  e.whiteInMiddle = right > left && std::abs((left + right) - Width) <= 8;
  events.push_back(e);
}

void OnImage(int slot) {
  events.push_back({"image:" + std::to_string(slot), CurrentRow(), SlotsLoaded()});
}

class StartUpTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const fs::path show = fs::temp_directory_path() / ("startup-show-" + std::to_string(getpid()));
    fs::create_directories(show / "res");
    for (const auto& entry : fs::directory_iterator(fs::path(DEMO_SOURCE_DIR) / "res")) {
      if (entry.is_regular_file()) fs::copy_file(entry.path(), show / "res" / entry.path().filename());
    }
    fs::current_path(show);
    showDir = show;
  }
  static void TearDownTestSuite() {
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(showDir);
  }
  static fs::path showDir;
};
fs::path StartUpTest::showDir;

TEST_F(StartUpTest, LoadingFramesAndImagesAlternateInSlotOrderBeforeTheMusicStarts) {
  ASSERT_TRUE(testsupport::MakeGlContext(Width, Height));
  SetupProjection(DesktopMode{Width, Height, 24});
  glEnable(GL_DEPTH_TEST);

  WatchStartUp({OnFrame, OnImage});
  InitDemo();
  WatchStartUp({});

  const std::vector<std::string> expected = {
      "frame:Loading.",         "frame:Loading..",       "image:0", "frame:Loading...",
      "image:1",                "frame:Loading....",     "image:2", "frame:Loading.....",
      "image:3",                "frame:Loading......",   "image:4", "frame:Loading.......",
      "image:5",                "frame:Loading........", "image:6"};
  ASSERT_EQ(events.size(), expected.size());
  int imagesSeen = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const Event& e = events[i];
    SCOPED_TRACE(e.what);
    EXPECT_EQ(e.what, expected[i]);
    EXPECT_EQ(e.row, 0.0) << "the clock moved before playback started";
    if (e.what.rfind("frame:", 0) == 0) {
      EXPECT_TRUE(e.loadingColourInCorner);
      EXPECT_TRUE(e.whiteInMiddle) << "no centred text";
      // A frame is presented before the image it announces is loaded.
      EXPECT_EQ(e.slotsLoaded, imagesSeen);
    } else {
      ++imagesSeen;
      EXPECT_EQ(e.slotsLoaded, imagesSeen) << "the image of this slot is not in its texture";
    }
  }

  // What the frames rely on afterwards.
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  GLint src = 0, dst = 0;
  glGetIntegerv(GL_BLEND_SRC, &src);
  glGetIntegerv(GL_BLEND_DST, &dst);
  EXPECT_EQ(src, GL_SRC_ALPHA);
  EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
  for (int slot = 7; slot < TextureSlots; ++slot) {
    EXPECT_NE(TextureTable[slot], 0u);
    EXPECT_EQ(TextureWidth(TextureTable[slot]), 0) << "slot " << slot << " never receives an image";
  }

  // Playback has started: the row grows from here on.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (CurrentRow() <= 0.0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_GT(CurrentRow(), 0.0);
}

TEST_F(StartUpTest, ALoadingFrameWithoutTextShowsOnlyTheLoadingColour) {
  ASSERT_TRUE(testsupport::MakeGlContext(Width, Height));
  SetupProjection(DesktopMode{Width, Height, 24});
  events.clear();
  WatchStartUp({OnFrame, nullptr});
  DrawLoadingFrame(nullptr);
  WatchStartUp({});
  ASSERT_EQ(events.size(), 1u);
  EXPECT_TRUE(events[0].loadingColourInCorner);
  EXPECT_FALSE(events[0].whiteInMiddle);
}

}  // namespace
