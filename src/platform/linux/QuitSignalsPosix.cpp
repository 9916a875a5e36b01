// Quit requests from outside the window on POSIX: SIGINT and SIGTERM.
#include <csignal>

#include "platform/Display.h"

namespace {

volatile std::sig_atomic_t quitSignals = 0;

extern "C" void OnQuitSignal(int sig) {
  if (quitSignals != 0) {
    // The first one has not been taken up: the loop is stuck somewhere (a long
    // start-up, a hung driver). Let the default action end the process.
    std::signal(sig, SIG_DFL);
    std::raise(sig);
    return;
  }
  quitSignals = 1;
}

}  // namespace

void InstallQuitSignals() {
  struct sigaction action {};
  action.sa_handler = OnQuitSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool TakeQuitSignal() {
  if (quitSignals == 0) return false;
  quitSignals = 0;
  return true;
}
