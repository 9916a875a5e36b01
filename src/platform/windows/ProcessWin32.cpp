// Process service on Windows: nothing to set up; the start time and the
// processor time from GetProcessTimes, the console from the C runtime.
#include <windows.h>
#include <io.h>

#include <cstdio>

#include "platform/Process.h"

void PrepareDemoProcess(char**) {}

namespace {

unsigned long long Ticks(const FILETIME& t) {
  return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

}  // namespace

double MsSinceProcessStart() {
  FILETIME created, exited, kernel, user, now;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1.0;
  GetSystemTimeAsFileTime(&now);
  // Both in 100 ns units since 1601.
  return double(static_cast<long long>(Ticks(now) - Ticks(created))) / 1e4;
}

double ProcessorSeconds() {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0.0;
  return double(Ticks(kernel) + Ticks(user)) / 1e7;  // 100 ns units
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

void YieldThreadToForeground() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL); }
