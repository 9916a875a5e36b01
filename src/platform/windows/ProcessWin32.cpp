// Process service on Windows: nothing to set up; the start time from the
// process's creation time.
#include <windows.h>

#include "platform/Process.h"

void PrepareDemoProcess(char**) {}

double MsSinceProcessStart() {
  FILETIME created, exited, kernel, user, now;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return -1.0;
  GetSystemTimeAsFileTime(&now);
  const auto ticks = [](const FILETIME& t) {
    return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  // Both in 100 ns units since 1601.
  return double(static_cast<long long>(ticks(now) - ticks(created))) / 1e4;
}
