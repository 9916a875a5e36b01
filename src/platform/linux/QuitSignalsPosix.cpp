// Quit requests from outside the window on POSIX: SIGINT, SIGTERM and SIGHUP
// (the terminal closed). SIGPIPE is ignored: a closed pipe on stderr or on
// an output then fails the write with EPIPE, which the caller can handle,
// instead of killing the process with its work unsaved.
#include <csignal>

#include "platform/Display.h"
#include "platform/linux/PendingFileSignals.h"

namespace {

volatile std::sig_atomic_t quitSignal = 0;  // the signal not yet taken up
volatile std::sig_atomic_t lastTaken = 0;

extern "C" void OnQuitSignal(int sig) {
  if (quitSignal != 0) {
    // The first one has not been taken up: the loop is stuck somewhere (a long
    // start-up, a hung driver). Let the default action end the process, with
    // no temporary left behind.
    RemoveOpenPendingFileNow();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  quitSignal = sig;
}

}  // namespace

void InstallQuitSignals() {
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

bool TakeQuitSignal() {
  const int sig = quitSignal;
  if (sig == 0) return false;
  lastTaken = sig;
  quitSignal = 0;
  return true;
}

bool QuitSignalWasHangUp() { return lastTaken == SIGHUP; }
