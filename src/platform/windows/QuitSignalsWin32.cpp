// Quit requests from outside the window on Windows: Ctrl+C and Ctrl+Break in
// the console the demo was started from (the windowed demo.exe attaches to
// it first thing, MessagesWin32.cpp).
//
// The console runs its control handler on a thread of its own; the handler
// only raises a flag that the message loop polls. A second request while the
// first is pending is answered by AnswerQuitRequest (QuitRequests.h): merged
// when it comes soon after, handed to the default handler, which ends the
// process, when the first has waited too long.
// Closing the console window is not a request the loop can answer: the system
// ends the process soon after the handler returns whatever it says, so that
// event is left to the default handling too.
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "platform/Display.h"
#include "platform/QuitRequests.h"

namespace {

// When the request not yet taken up arrived (GetTickCount64), -1 when none waits.
std::atomic<int64_t> pendingSinceMs{-1};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  const int64_t now = int64_t(GetTickCount64());
  int64_t since = pendingSinceMs.load();
  switch (AnswerQuitRequest(since, now)) {
    case QuitAnswer::Pending:
      // Lost to a request arriving at the same moment on another thread, it
      // is merged with that one.
      pendingSinceMs.compare_exchange_strong(since, now);
      return TRUE;
    case QuitAnswer::Merged:
      return TRUE;
    case QuitAnswer::EndNow:
      return FALSE;
  }
  return TRUE;
}

}  // namespace

void InstallQuitSignals() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool TakeQuitSignal() { return pendingSinceMs.exchange(-1) >= 0; }

// A closed console ends the process without a request first.
bool QuitSignalWasHangUp() { return false; }
