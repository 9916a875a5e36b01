// Quit requests from outside the window on POSIX: SIGINT, SIGTERM and SIGHUP
// (the terminal closed). SIGPIPE is ignored: a closed pipe on stderr or on
// an output then fails the write with EPIPE, which the caller can handle,
// instead of killing the process with its work unsaved.
//
// A second request while the first still waits is answered by
// AnswerQuitRequest (QuitRequests.h): merged when it comes soon after, the
// process ended at once when the first has waited too long. The handler
// reads the monotonic clock with clock_gettime, which is async-signal-safe.
#include <atomic>
#include <csignal>
#include <ctime>

#include "platform/Display.h"
#include "platform/QuitRequests.h"
#include "platform/linux/PendingFileSignals.h"

namespace {

volatile std::sig_atomic_t quitSignal = 0;  // the signal not yet taken up
volatile std::sig_atomic_t lastTaken = 0;
// When quitSignal arrived, in monotonic milliseconds. A 64-bit atomic is
// lock-free on every target we build, so the handler may touch it.
std::atomic<int64_t> pendingSinceMs{-1};
static_assert(std::atomic<int64_t>::is_always_lock_free);

int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

extern "C" void OnQuitSignal(int sig) {
  const int64_t now = MonotonicMs();
  switch (AnswerQuitRequest(quitSignal != 0 ? pendingSinceMs.load() : -1, now)) {
    case QuitAnswer::Pending:
      pendingSinceMs.store(now);
      quitSignal = sig;
      return;
    case QuitAnswer::Merged:
      return;
    case QuitAnswer::EndNow:
      // Let the default action end the process, with no temporary left behind.
      RemoveOpenPendingFileNow();
      std::signal(sig, SIG_DFL);
      std::raise(sig);
      return;
  }
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
  pendingSinceMs.store(-1);
  return true;
}

bool QuitSignalWasHangUp() { return lastTaken == SIGHUP; }
