// The huge-page start over: the program starts itself over at most once,
// whatever the C library does with the tunable it was started with.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/Process.h"

namespace {

constexpr int Returned = 42;

// Runs PrepareDemoProcess in a child with the environment changes given;
// Returned when it went on without starting over. A start over runs this test
// program again, asked for no tests, which exits with 0.
int PrepareInChild(const char* marker, const char* tunables) {
  const pid_t child = fork();
  if (child == 0) {
    if (marker) setenv("DEMO_HUGE_PAGES_RESTARTED", marker, 1);
    if (tunables) {
      setenv("GLIBC_TUNABLES", tunables, 1);
    } else {
      unsetenv("GLIBC_TUNABLES");
    }
    char name[] = "again";
    char filter[] = "--gtest_filter=NoSuchTest.NoSuchCase";
    char* argv[] = {name, filter, nullptr};
    PrepareDemoProcess(argv);
    _exit(std::getenv("DEMO_HUGE_PAGES_RESTARTED") ? Returned + 1 : Returned);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(HugePageRestart, StartsOverOnceAndNeverAgain) {
  std::ifstream modes("/sys/kernel/mm/transparent_hugepage/enabled");
  std::string line;
  if (!std::getline(modes, line) || line.find("[madvise]") == std::string::npos) {
    GTEST_SKIP() << "huge pages are not handed out on request here; the demo never starts over";
  }
  const struct {
    const char* name;
    const char* marker;
    const char* tunables;
    int status;
  } cases[] = {
      {"a first start starts over", nullptr, nullptr, 0},
      // What a setuid program sees after its start over: the C library has
      // stripped the tunable, only our marker says it happened.
      {"the marker without the tunable", "1", nullptr, Returned},
      {"the marker with other tunables", "1", "glibc.malloc.check=0", Returned},
      {"the user's own setting", nullptr, "glibc.malloc.hugetlb=0", Returned},
  };
  for (const auto& c : cases) EXPECT_EQ(PrepareInChild(c.marker, c.tunables), c.status) << c.name;
}

}  // namespace
