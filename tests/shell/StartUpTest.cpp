// The start-up sequence in the demo's own window (SDL's offscreen driver) over
// a copy of the bundled show: what each loading frame shows and that it is
// presented, the order of frames and image loads, the clock standing still
// until the music starts, and quit requests taken while loading.
#include <GL/gl.h>
#include <SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "image/TextureTable.h"
#include "platform/Audio.h"
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
  std::string what;  // "frame:<text>", "presented" or "image:<slot>"
  double row;
  int slotsLoaded;   // slots 0..6 that hold a texture image at that moment
  bool loadingColourInCorner = false;
  bool whiteInMiddle = false;
  bool asDrawn = false;  // presented: the picture swapped is the frame drawn
};

std::vector<Event> events;
std::vector<uint8_t> lastDrawn;  // the pixels of the latest frame drawn
bool watchingSwaps = false;
// The event after which a quit request is made, and how.
std::string quitAfter;
void (*requestQuit)() = nullptr;

void RequestQuitAfter(const std::string& what) {
  if (requestQuit && what == quitAfter) requestQuit();
}

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
  lastDrawn = pixels;
  RequestQuitAfter(e.what);
}

void OnImage(int slot) {
  events.push_back({"image:" + std::to_string(slot), CurrentRow(), SlotsLoaded()});
  RequestQuitAfter(events.back().what);
}

}  // namespace

// Every buffer swap of this program passes here first: a frame counts as
// presented only when the demo's window is swapped with that frame in its back
// buffer (the drawing hook alone would not notice a missing swap).
extern "C" void SDL_GL_SwapWindow(SDL_Window* window) {
  static const auto real =
      reinterpret_cast<void (*)(SDL_Window*)>(dlsym(RTLD_NEXT, "SDL_GL_SwapWindow"));
  if (watchingSwaps && window && window == SDL_GL_GetCurrentWindow()) {
    Event e{"presented", CurrentRow(), SlotsLoaded()};
    e.asDrawn = !lastDrawn.empty() && testsupport::ReadPixels(Width, Height) == lastDrawn;
    events.push_back(e);
  }
  real(window);
}

namespace {

void PushSdlEvent(SDL_Event e) { SDL_PushEvent(&e); }
void PushEscape() {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.sym = SDLK_ESCAPE;
  PushSdlEvent(e);
}
void PushRightButton() {
  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = SDL_BUTTON_RIGHT;
  PushSdlEvent(e);
}
void PushCloseRequest() {
  SDL_Event e{};
  e.type = SDL_QUIT;
  PushSdlEvent(e);
}
void RaiseTerm() { std::raise(SIGTERM); }

// The demo's own window and context, as the shell opens them.
bool OpenDemoWindow() {
  if (!OpenDisplay() || !CreateDemoWindow(Width, Height, 0)) return false;
  SetupProjection(DesktopMode{Width, Height, 24});
  glEnable(GL_DEPTH_TEST);
  return true;
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
  // A test that starts the music leaves no audio thread behind it.
  void TearDown() override { ShutdownAudio(); }
  static void TearDownTestSuite() {
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(showDir);
  }
  static fs::path showDir;
};
fs::path StartUpTest::showDir;

// What a start-up that nobody interrupts goes through, in order.
const std::vector<std::string> FullStartUp = {
    "frame:Loading.",       "presented", "frame:Loading..",       "presented", "image:0",
    "frame:Loading...",     "presented", "image:1",               "frame:Loading....",
    "presented",            "image:2",   "frame:Loading.....",    "presented", "image:3",
    "frame:Loading......",  "presented", "image:4",               "frame:Loading.......",
    "presented",            "image:5",   "frame:Loading........", "presented", "image:6"};

TEST_F(StartUpTest, LoadingFramesAndImagesAlternateInSlotOrderBeforeTheMusicStarts) {
  ASSERT_TRUE(OpenDemoWindow());

  events.clear();
  WatchStartUp({OnFrame, OnImage});
  watchingSwaps = true;
  EXPECT_TRUE(InitDemo());
  watchingSwaps = false;
  WatchStartUp({});

  ASSERT_EQ(events.size(), FullStartUp.size());
  int imagesSeen = 0;
  for (size_t i = 0; i < events.size(); ++i) {
    const Event& e = events[i];
    SCOPED_TRACE(testing::Message() << i << " " << e.what);
    EXPECT_EQ(e.what, FullStartUp[i]);
    EXPECT_EQ(e.row, 0.0) << "the clock moved before playback started";
    if (e.what == "presented") {
      EXPECT_TRUE(e.asDrawn) << "the picture swapped is not the loading frame drawn";
      EXPECT_EQ(e.slotsLoaded, imagesSeen);
    } else if (e.what.rfind("frame:", 0) == 0) {
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
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (CurrentRow() <= 0.0 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_GT(CurrentRow(), 0.0);
}

struct QuitCase {
  const char* how;
  void (*request)();
  const char* after;  // the last event before the start-up gives up
};

TEST_F(StartUpTest, AQuitRequestDuringLoadingEndsTheStartUpAtOnce) {
  ASSERT_TRUE(OpenDemoWindow());
  InstallQuitSignals();
  const QuitCase cases[] = {
      {"Escape", PushEscape, "frame:Loading."},
      {"right button", PushRightButton, "frame:Loading...."},
      {"close request", PushCloseRequest, "image:3"},
      {"SIGTERM", RaiseTerm, "image:6"},
  };
  for (const QuitCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.how << " after " << c.after);
    events.clear();
    quitAfter = c.after;
    requestQuit = c.request;
    WatchStartUp({OnFrame, OnImage});
    watchingSwaps = true;
    const bool started = InitDemo();
    watchingSwaps = false;
    WatchStartUp({});
    requestQuit = nullptr;

    EXPECT_FALSE(started);
    // Everything up to the request happens as usual (a frame drawn is still
    // presented), nothing after it.
    const auto at = std::find(FullStartUp.begin(), FullStartUp.end(), c.after);
    ASSERT_NE(at, FullStartUp.end());
    std::vector<std::string> expected(FullStartUp.begin(), at + 1);
    if (expected.back().rfind("frame:", 0) == 0) expected.push_back("presented");
    std::vector<std::string> seen;
    for (const Event& e : events) seen.push_back(e.what);
    EXPECT_EQ(seen, expected);
    EXPECT_FALSE(TakeQuitSignal()) << "the request was left for later";
    DisplayMessage left;
    EXPECT_FALSE(PeekDisplayMessage(&left)) << "messages left waiting";
  }
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
