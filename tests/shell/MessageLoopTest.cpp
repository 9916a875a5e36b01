#include <SDL.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/Display.h"
#include "platform/QuitRequests.h"
#include "shell/WindowProc.h"

namespace {

class MessageTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(OpenDisplay());
    DisplayMessage m;
    while (PeekDisplayMessage(&m)) {}
    while (TakeQuitSignal()) {}
  }

  static std::vector<MessageKind> Drain() {
    std::vector<MessageKind> kinds;
    DisplayMessage m;
    while (PeekDisplayMessage(&m)) {
      if (m.kind != MessageKind::Other) kinds.push_back(m.kind);
    }
    return kinds;
  }

  static void PushKey(SDL_Keycode key, Uint16 mod = KMOD_NONE) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.keysym.sym = key;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
  }

  static void PushButton(Uint8 button) {
    SDL_Event e{};
    e.type = SDL_MOUSEBUTTONDOWN;
    e.button.button = button;
    SDL_PushEvent(&e);
  }
};

struct ProcCase {
  const char* what;
  DisplayMessage msg;
  std::vector<MessageKind> follows;  // what the handling leaves in the queue
};

TEST_F(MessageTest, WindowProcTable) {
  using K = MessageKind;
  const ProcCase cases[] = {
      {"Escape", {K::KeyDown, KeyEscape}, {K::Quit}},
      {"another key", {K::KeyDown, 'a'}, {}},
      {"F4 without Alt", {K::KeyDown, KeyF4}, {}},
      {"right button", {K::RightButtonDown, 0}, {K::Quit}},
      {"close request", {K::CloseRequest, 0}, {K::Quit}},
      // System keys take the default path, where Alt+F4 asks the window to close.
      {"Alt+F4", {K::SysKeyDown, KeyF4}, {K::CloseRequest}},
      {"Alt+Escape", {K::SysKeyDown, KeyEscape}, {}},
      {"F10", {K::SysKeyDown, KeyF10}, {}},
      {"a quit retrieved", {K::Quit, 0}, {}},
      {"anything else", {K::Other, 0}, {}},
  };
  for (const ProcCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(WindowProc(c.msg), 0);
    EXPECT_EQ(Drain(), c.follows);
  }
}

struct EventCase {
  const char* what;
  void (*push)();
  DisplayMessage expected;
};

TEST_F(MessageTest, EventsBecomeMessages) {
  using K = MessageKind;
  const EventCase cases[] = {
      {"Escape", [] { PushKey(SDLK_ESCAPE); }, {K::KeyDown, KeyEscape}},
      {"letter", [] { PushKey(SDLK_q); }, {K::KeyDown, SDLK_q}},
      {"Alt+F4", [] { PushKey(SDLK_F4, KMOD_LALT); }, {K::SysKeyDown, KeyF4}},
      {"F10", [] { PushKey(SDLK_F10); }, {K::SysKeyDown, KeyF10}},
      {"right button", [] { PushButton(SDL_BUTTON_RIGHT); }, {K::RightButtonDown, 0}},
      {"left button", [] { PushButton(SDL_BUTTON_LEFT); }, {K::Other, 0}},
      {"system quit", [] {
         SDL_Event e{};
         e.type = SDL_QUIT;
         SDL_PushEvent(&e);
       }, {K::CloseRequest, 0}},
      {"posted quit", [] { PostQuit(); }, {K::Quit, 0}},
  };
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.what);
    c.push();
    DisplayMessage m;
    ASSERT_TRUE(PeekDisplayMessage(&m));
    EXPECT_EQ(m.kind, c.expected.kind);
    if (c.expected.kind == K::KeyDown || c.expected.kind == K::SysKeyDown) {
      EXPECT_EQ(m.key, c.expected.key);
    }
    EXPECT_FALSE(PeekDisplayMessage(&m)) << "one event, one message";
  }
}

// The loop's frame stand-in: counts the frames and checks that a frame only
// runs when no message is waiting.
int frames = 0;
int framesWithMessagesWaiting = 0;
int quitAfterFrames = -1;
int endShowAfterFrames = -1;

bool CountingFrame() {
  SDL_PumpEvents();
  if (SDL_PeepEvents(nullptr, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0)
    ++framesWithMessagesWaiting;
  ++frames;
  if (frames == endShowAfterFrames) {
    PostQuit();
    return false;
  }
  if (frames == quitAfterFrames) PostQuit();
  return true;
}

class LoopTest : public MessageTest {
 protected:
  void SetUp() override {
    MessageTest::SetUp();
    frames = framesWithMessagesWaiting = 0;
    quitAfterFrames = endShowAfterFrames = -1;
  }
};

TEST_F(LoopTest, WaitingMessagesComeBeforeFrames) {
  for (int i = 0; i < 5; ++i) PushKey(SDLK_SPACE);
  quitAfterFrames = 3;
  RunMessageLoop(CountingFrame);
  EXPECT_EQ(frames, 3);
  EXPECT_EQ(framesWithMessagesWaiting, 0);
}

TEST_F(LoopTest, EscapeWaitingAtStartEndsBeforeAnyFrame) {
  // Keys pressed during the start-up wait in the queue and end the demo on
  // the loop's first passes.
  PushKey(SDLK_a);
  PushKey(SDLK_ESCAPE);
  RunMessageLoop(CountingFrame);
  EXPECT_EQ(frames, 0);
}

TEST_F(LoopTest, RightButtonAndCloseEndTheLoop) {
  PushButton(SDL_BUTTON_RIGHT);
  RunMessageLoop(CountingFrame);
  EXPECT_EQ(frames, 0);
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.event = SDL_WINDOWEVENT_CLOSE;
  SDL_PushEvent(&e);
  RunMessageLoop(CountingFrame);
  EXPECT_EQ(frames, 0);
}

TEST_F(LoopTest, EndOfShowStopsAtOnce) {
  endShowAfterFrames = 4;
  RunMessageLoop(CountingFrame);
  EXPECT_EQ(frames, 4);
}

TEST_F(LoopTest, SignalEndsTheLoopLikeEscape) {
  InstallQuitSignals();
  quitAfterFrames = 1000;  // a safety net: the signal must end it long before
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    frames = 0;
    std::raise(sig);
    RunMessageLoop(CountingFrame);
    EXPECT_LT(frames, 5);
    EXPECT_FALSE(TakeQuitSignal()) << "the loop took the signal up";
  }
}

}  // namespace

namespace {

TEST(QuitSignals, ASecondRequestIsMergedUnlessTheFirstHasWaitedTooLong) {
  struct Case {
    const char* what;
    int64_t pendingSince;
    int64_t now;
    QuitAnswer answer;
  };
  const Case cases[] = {
      {"nothing waits", -1, 5000, QuitAnswer::Pending},
      {"at the same moment", 5000, 5000, QuitAnswer::Merged},
      {"within a second", 5000, 5999, QuitAnswer::Merged},
      {"exactly at the limit", 5000, 5000 + StuckQuitRequestMs, QuitAnswer::Merged},
      {"past the limit", 5000, 5001 + StuckQuitRequestMs, QuitAnswer::EndNow},
      {"the clock's first moment", 0, 1, QuitAnswer::Merged},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnswerQuitRequest(c.pendingSince, c.now), c.answer) << c.what;
  }
}

TEST(QuitSignals, TwoSignalsAtOnceAreOneRequest) {
  // timeout(1), itself terminated, forwards its TERM and sends one more: the
  // show must end as asked, with status 0, not be killed by the second.
  EXPECT_EXIT(
      {
        InstallQuitSignals();
        std::raise(SIGTERM);
        std::raise(SIGTERM);
        if (!TakeQuitSignal()) std::_Exit(3);
        std::_Exit(TakeQuitSignal() ? 4 : 0);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EXIT(
      {
        InstallQuitSignals();
        std::raise(SIGINT);
        if (!TakeQuitSignal()) std::_Exit(3);
        std::raise(SIGINT);  // taken up in between: a fresh request, not fatal
        std::_Exit(TakeQuitSignal() ? 0 : 4);
      },
      testing::ExitedWithCode(0), "");
}

TEST(QuitSignals, ASecondSignalAfterTheFirstWaitedTooLongEndsTheProcess) {
  // A start-up that hangs never reaches the loop that takes the first signal
  // up; a second one once the first has waited must still end the process.
  EXPECT_EXIT(
      {
        InstallQuitSignals();
        std::raise(SIGTERM);
        std::this_thread::sleep_for(std::chrono::milliseconds(StuckQuitRequestMs + 100));
        std::raise(SIGTERM);
        std::_Exit(0);
      },
      testing::KilledBySignal(SIGTERM), "");
}

}  // namespace
