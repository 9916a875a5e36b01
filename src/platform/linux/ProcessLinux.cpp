// Process service on Linux: the C library's huge-page setting, and the start
// time from /proc.
#include "platform/Process.h"

#include <sys/auxv.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>

namespace {

constexpr const char* HugePageTunable = "glibc.malloc.hugetlb";
// Set for the program started over, so that it never starts over again: the
// tunable alone cannot say so, since the C library strips GLIBC_TUNABLES from
// the environment of a setuid program or one with file capabilities.
constexpr const char* RestartedMarker = "DEMO_HUGE_PAGES_RESTARTED";

// True when transparent huge pages come only to memory that asks for them
// ("always" needs no asking, "never" gives none).
bool HugePagesOnRequest() {
  std::ifstream modes("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string line;
  return std::getline(modes, line) && line.find("[madvise]") != std::string::npos;
}

}  // namespace

void PrepareDemoProcess(char** argv) {
  if (std::getenv(RestartedMarker)) {
    unsetenv(RestartedMarker);  // nothing the demo starts inherits it
    return;
  }
  // In secure-execution mode (setuid, file capabilities) the C library
  // ignores the tunable: a start over would change nothing.
  if (getauxval(AT_SECURE) != 0) return;
  // A setting already there, the user's own, is left as it is.
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables && std::strstr(tunables, HugePageTunable)) return;
  if (!argv || !argv[0] || !HugePagesOnRequest()) return;
  const bool hadTunables = tunables != nullptr;
  const std::string before = hadTunables ? tunables : "";
  const std::string wanted = std::string(HugePageTunable) + "=1";
  if (setenv("GLIBC_TUNABLES", before.empty() ? wanted.c_str() : (before + ":" + wanted).c_str(), 1) == 0 &&
      setenv(RestartedMarker, "1", 1) == 0) {
    // The program's own path, not /proc/self/exe: the process keeps its name.
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length > 0) {
      self[length] = '\0';
      execv(self, argv);
    }
  }
  // Not started over: go on as before, with the environment as it was.
  unsetenv(RestartedMarker);
  if (hadTunables) {
    setenv("GLIBC_TUNABLES", before.c_str(), 1);
  } else {
    unsetenv("GLIBC_TUNABLES");
  }
}

double MsSinceProcessStart() {
  // The 22nd field of /proc/self/stat is the start in clock ticks since boot.
  // The second field, the program's name in parentheses, may itself hold
  // spaces and parentheses, so the fields are counted from its last ')'.
  std::ifstream statFile("/proc/self/stat");
  std::string stat;
  if (!std::getline(statFile, stat)) return -1.0;
  const size_t nameEnd = stat.rfind(')');
  if (nameEnd == std::string::npos) return -1.0;
  std::istringstream fields(stat.substr(nameEnd + 1));
  std::string field;
  for (int i = 3; i < 22 && fields >> field; ++i) {
  }
  unsigned long long startTicks = 0;
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  timespec now{};
  if (!(fields >> startTicks) || ticksPerSecond <= 0 || clock_gettime(CLOCK_BOOTTIME, &now) != 0) return -1.0;
  const double nowMs = double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
  return nowMs - double(startTicks) * 1e3 / double(ticksPerSecond);
}
