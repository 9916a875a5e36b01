// Process service on Linux (any POSIX system): the processor time from
// getrusage, the terminal from isatty.
#include <sys/resource.h>
#include <unistd.h>

#include "platform/Process.h"

double ProcessorSeconds() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0.0;
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) != 0; }
