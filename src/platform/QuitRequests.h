// How a request to end the program from outside the window (a signal, a
// console event) is answered, the same on every system. Only the arithmetic
// lives here, so that the rule can be tested without sending signals; the
// backends (QuitSignalsPosix.cpp, QuitSignalsWin32.cpp) call it from their
// handlers, which is why it takes plain integers and allocates nothing.
#pragma once

#include <cstdint>

// Senders that stop a whole process group, or that are stopped themselves
// while waiting on the demo (timeout(1) forwards the TERM it gets, then sends
// its own), deliver two requests within a moment of each other. Those are one
// request: the show ends as asked, with its usual exit status.
inline constexpr int64_t SameQuitRequestMs = 1000;
// A request that has waited this long without the program taking it up means
// the program is stuck (a long start-up, a hung driver); another request then
// ends the process at once, the only way out left.
inline constexpr int64_t StuckQuitRequestMs = 2000;

enum class QuitAnswer {
  Pending,  // the request now waits for the program to take it up
  Merged,   // the request already waiting stands for this one too
  EndNow,   // end the process without waiting
};

// pendingSinceMs is when the request still waiting arrived, or a negative
// number when none waits; nowMs the same clock now.
constexpr QuitAnswer AnswerQuitRequest(int64_t pendingSinceMs, int64_t nowMs) {
  if (pendingSinceMs < 0) return QuitAnswer::Pending;
  return nowMs - pendingSinceMs > StuckQuitRequestMs ? QuitAnswer::EndNow : QuitAnswer::Merged;
}
