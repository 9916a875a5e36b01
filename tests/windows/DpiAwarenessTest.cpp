// DPI awareness: which of the system's calls is made, what counts as done,
// and that the demo's window is created aware (DpiAwarenessWin32.h).
#include <gtest/gtest.h>

#include <string>

#include "platform/Display.h"
#include "platform/windows/DpiAwarenessWin32.h"

namespace {

// What the fake calls answer, and the calls made, in order.
struct FakeSystem {
  BOOL contextAnswer = FALSE;
  DWORD contextError = 0;
  HRESULT awarenessAnswer = E_FAIL;
  BOOL awareAnswer = FALSE;
  std::string made;
} fake;

BOOL WINAPI FakeSetContext(HANDLE context) {
  fake.made += "context(" + std::to_string(reinterpret_cast<INT_PTR>(context)) + ") ";
  return fake.contextAnswer;
}
HRESULT WINAPI FakeSetAwareness(int awareness) {
  fake.made += "awareness(" + std::to_string(awareness) + ") ";
  return fake.awarenessAnswer;
}
BOOL WINAPI FakeSetAware() {
  fake.made += "aware ";
  return fake.awareAnswer;
}
DWORD WINAPI FakeLastError() { return fake.contextError; }

TEST(DpiAwarenessTest, TheNewestCallThatWorksAndAlreadySetIsDone) {
  struct Case {
    const char* what;
    bool hasContext, hasAwareness, hasAware;
    FakeSystem answers;
    DpiAwarenessResult expected;
    const char* made;
  };
  const Case cases[] = {
      {"Windows 10 1703 and later", true, true, true, {TRUE, 0, S_OK, TRUE, ""},
       DpiAwarenessResult::PerMonitorV2, "context(-4) "},
      {"the manifest was read first", true, true, true, {FALSE, ERROR_ACCESS_DENIED, S_OK, TRUE, ""},
       DpiAwarenessResult::AlreadySet, "context(-4) "},
      {"v2 refused as unknown", true, true, true, {FALSE, ERROR_INVALID_PARAMETER, S_OK, TRUE, ""},
       DpiAwarenessResult::PerMonitor, "context(-4) awareness(2) "},
      {"Windows 8.1", false, true, true, {FALSE, 0, S_OK, TRUE, ""},
       DpiAwarenessResult::PerMonitor, "awareness(2) "},
      {"Windows 8.1 after the manifest", false, true, true, {FALSE, 0, E_ACCESSDENIED, TRUE, ""},
       DpiAwarenessResult::AlreadySet, "awareness(2) "},
      {"shcore refuses", false, true, true, {FALSE, 0, E_INVALIDARG, TRUE, ""},
       DpiAwarenessResult::System, "awareness(2) aware "},
      {"Vista and 7", false, false, true, {FALSE, 0, E_FAIL, TRUE, ""},
       DpiAwarenessResult::System, "aware "},
      {"every call fails", true, true, true, {FALSE, ERROR_INVALID_PARAMETER, E_INVALIDARG, FALSE, ""},
       DpiAwarenessResult::Unaware, "context(-4) awareness(2) aware "},
      {"no call at all", false, false, false, {}, DpiAwarenessResult::Unaware, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fake = c.answers;
    DpiAwarenessCalls calls;
    if (c.hasContext) calls.setProcessContext = FakeSetContext;
    if (c.hasAwareness) calls.setProcessAwareness = FakeSetAwareness;
    if (c.hasAware) calls.setProcessAware = FakeSetAware;
    calls.lastError = FakeLastError;
    EXPECT_EQ(DeclareDpiAwareness(calls), c.expected);
    EXPECT_EQ(fake.made, c.made);
  }
}

// A window keeps the awareness it was created with: the display sets it when
// it opens, before it can create a window, and once for the process.
BOOL CALLBACK CountWindow(HWND, LPARAM counter) {
  ++*reinterpret_cast<int*>(counter);
  return TRUE;
}

int ThreadWindows() {
  int count = 0;
  EnumThreadWindows(GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

BOOL WINAPI RecordingSetContext(HANDLE) {
  fake.made += "context with " + std::to_string(ThreadWindows()) + " windows ";
  return TRUE;
}

DpiAwarenessCalls RecordingCalls() {
  DpiAwarenessCalls calls;
  calls.setProcessContext = RecordingSetContext;
  return calls;
}

TEST(DpiAwarenessTest, DeclaredOnceWhenTheDisplayOpensBeforeAnyWindow) {
  CloseDisplay();
  fake = {};
  UseDpiAwarenessCalls(RecordingCalls);
  const bool opened = OpenDisplay();
  CloseDisplay();
  const bool openedAgain = OpenDisplay();
  CloseDisplay();
  UseDpiAwarenessCalls(SystemDpiAwarenessCalls);
  EXPECT_TRUE(opened && openedAgain);
  EXPECT_EQ(fake.made, "context with 0 windows ");
}

}  // namespace
