// Process service on Linux: the processor time from getrusage, the terminal
// from isatty, a thread's priority from its own nice value.
#include <sys/resource.h>
#include <unistd.h>

#include "platform/Process.h"

double ProcessorSeconds() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0.0;
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }

void YieldThreadToForeground() {
  // On Linux a thread's nice value is its own: the thread id names just this
  // thread. Raising it needs no privilege.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
}
