// Quit requests from outside the window on Windows: Ctrl+C and Ctrl+Break in
// the console the demo was started from.
//
// The console runs its control handler on a thread of its own; the handler
// only raises a flag that the message loop polls. A second request while the
// first is pending is handed to the default handler, which ends the process.
// Closing the console window is not a request the loop can answer: the system
// ends the process soon after the handler returns whatever it says, so that
// event is left to the default handling too.
#include <windows.h>

#include <atomic>

#include "platform/Display.h"

namespace {

std::atomic<bool> quitRequested{false};

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  return quitRequested.exchange(true) ? FALSE : TRUE;
}

}  // namespace

void InstallQuitSignals() { SetConsoleCtrlHandler(OnConsoleControl, TRUE); }

bool TakeQuitSignal() { return quitRequested.exchange(false); }

// A closed console ends the process without a request first.
bool QuitSignalWasHangUp() { return false; }
