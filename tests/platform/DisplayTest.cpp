#include <GL/gl.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <SDL.h>
#endif

#include <algorithm>
#include <string>

#include "platform/Display.h"

#ifndef GL_SAMPLES
#define GL_SAMPLES 0x80A9  // GL 1.3; Windows' own GL header stops at 1.1
#endif

namespace {

// Each case opens its own window: the display is closed and opened around it.
class DisplayWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    CloseDisplay();
    ASSERT_TRUE(OpenDisplay());
  }
  void TearDown() override { CloseDisplay(); }
};

TEST_F(DisplayWindowTest, TheRequestedFormat) {
  ASSERT_TRUE(CreateDemoWindow(160, 90, 4));
  GLint bits[6] = {};
  glGetIntegerv(GL_RED_BITS, &bits[0]);
  glGetIntegerv(GL_GREEN_BITS, &bits[1]);
  glGetIntegerv(GL_BLUE_BITS, &bits[2]);
  glGetIntegerv(GL_ALPHA_BITS, &bits[3]);
  glGetIntegerv(GL_DEPTH_BITS, &bits[4]);
  glGetIntegerv(GL_STENCIL_BITS, &bits[5]);
  EXPECT_EQ(bits[0], 8);
  EXPECT_EQ(bits[1], 8);
  EXPECT_EQ(bits[2], 8);
  EXPECT_EQ(bits[3], 8);
  EXPECT_EQ(bits[4], 24);
  EXPECT_EQ(bits[5], 8);
  // (Double buffering cannot be checked here: the offscreen driver draws into
  // a single-buffered pbuffer whatever is asked for.)
  GLint samples = -1;
  glGetIntegerv(GL_SAMPLES, &samples);
  EXPECT_EQ(samples, DemoWindowSamples());
  // A compatibility context: the fixed-function calls the demo lives on work.
  const GLuint list = glGenLists(1);
  glNewList(list, GL_COMPILE);
  glPushAttrib(GL_ALL_ATTRIB_BITS);
  glPopAttrib();
  glEndList();
  EXPECT_NE(list, 0u);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(DisplayWindowTest, TooManySamplesFallBackWithOneLine) {
  // 256 and more make a fallback list longer than eight steps.
  for (const int wish : {64, 256, 1 << 30}) {
    SCOPED_TRACE(wish);
    CloseDisplay();
    ASSERT_TRUE(OpenDisplay());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(CreateDemoWindow(160, 90, wish));
    const std::string err = testing::internal::GetCapturedStderr();
    const int got = DemoWindowSamples();
    EXPECT_LT(got, wish);
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("using " + std::to_string(got)), std::string::npos) << err;
    GLint samples = -1;
    glGetIntegerv(GL_SAMPLES, &samples);
    EXPECT_EQ(samples, got) << "never an unset format: what is reported is what runs";
  }
}

#ifndef _WIN32
// SDL's user event types can run out; a Windows message queue has no such
// limit, so this case is the SDL backend's alone.
TEST(DisplayQuit, ArrivesAfterTheWaitingMessagesEvenWithoutAnEventTypeOfItsOwn) {
  // The first pass uses the event type registered for the quit; then every
  // user event type is taken, and a display opened afresh must still deliver
  // a posted quit.
  for (const bool exhausted : {false, true}) {
    SCOPED_TRACE(exhausted ? "no user event type left" : "own event type");
    CloseDisplay();
    if (exhausted) {
      while (SDL_RegisterEvents(1) != static_cast<Uint32>(-1)) {
      }
    }
    ASSERT_TRUE(OpenDisplay());
    DisplayMessage m;
    while (PeekDisplayMessage(&m)) {
    }
    SDL_Event key{};
    key.type = SDL_KEYDOWN;
    key.key.keysym.sym = SDLK_a;
    ASSERT_EQ(SDL_PushEvent(&key), 1);
    PostQuit();
    ASSERT_TRUE(PeekDisplayMessage(&m));
    EXPECT_EQ(m.kind, MessageKind::KeyDown);
    ASSERT_TRUE(PeekDisplayMessage(&m));
    EXPECT_EQ(m.kind, MessageKind::Quit);
    EXPECT_FALSE(PeekDisplayMessage(&m)) << "one quit, delivered once";
    CloseDisplay();
  }
}

#endif

TEST_F(DisplayWindowTest, DesktopModeIsReadable) {
  DesktopMode mode;
  ASSERT_TRUE(QueryDesktopMode(&mode));
  EXPECT_GT(mode.width, 0);
  EXPECT_GT(mode.height, 0);
  EXPECT_GE(mode.bitsPerPixel, 24);
}

TEST(DisplayClosed, CallsWithoutADisplayAreHarmless) {
  CloseDisplay();
  DisplayMessage m;
  EXPECT_FALSE(PeekDisplayMessage(&m));
  PostQuit();
  SwapDemoWindow();
  HideCursor();
  EXPECT_EQ(DefaultMessageAction({MessageKind::SysKeyDown, KeyF4}), 0);
  DesktopMode mode{1, 2, 3};
  testing::internal::CaptureStderr();
  EXPECT_FALSE(QueryDesktopMode(&mode));
  EXPECT_FALSE(CreateDemoWindow(100, 100, 4));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(mode.width, 1);
}

}  // namespace
