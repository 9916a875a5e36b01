// The main of every test executable: tests never need a display or a sound
// card, so SDL is pointed at its offscreen video and dummy audio drivers
// unless the caller chose others.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define DEMO_TEST_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DEMO_TEST_LEAK_CHECK 1
#endif
#endif
#ifdef DEMO_TEST_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {

#ifdef DEMO_TEST_LEAK_CHECK
// The names of the process's threads other than this one.
std::vector<std::string> OtherThreads() {
  std::vector<std::string> names;
  DIR* tasks = opendir("/proc/self/task");
  if (!tasks) return names;
  const std::string self = std::to_string(gettid());
  while (const dirent* entry = readdir(tasks)) {
    const std::string tid = entry->d_name;
    if (tid == "." || tid == ".." || tid == self) continue;
    std::string name;
    std::ifstream(("/proc/self/task/" + tid + "/comm").c_str()) >> name;
    names.push_back(name + " (" + tid + ")");
  }
  closedir(tasks);
  return names;
}
#endif

// The leak check suspends every thread of the process and reads their stacks
// and thread-local blocks; a thread that is starting or exiting meanwhile
// can crash it. So it runs here, from main, once every other thread is gone,
// instead of at exit, where the libraries' own exit handlers are still
// stopping theirs. A thread still running after the tests is a test's fault
// (or a library's that should be told not to start it) and fails the run
// with its name. Other sanitizers keep threads of their own, and builds
// without one have no check to protect.
int CheckLeaksAlone(int result) {
#ifdef DEMO_TEST_LEAK_CHECK
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::vector<std::string> others = OtherThreads();
  while (!others.empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    others = OtherThreads();
  }
  if (!others.empty()) {
    std::string list;
    for (const std::string& name : others) list += " " + name;
    std::fprintf(stderr, "test main: threads still running 10 s after the tests:%s\n", list.c_str());
    return 1;
  }
  // Reports and ends the process when something leaked; the check at exit is
  // then skipped.
  __lsan_do_leak_check();
#endif
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("SDL_VIDEODRIVER", "offscreen", 0);
  setenv("SDL_AUDIODRIVER", "dummy", 0);
  // Mesa's software renderer rasterizes on threads of its own and, with its
  // shader cache on, writes compiled shaders to disk from another. An empty
  // cache, as on a fresh machine, keeps that writer busy into the exit, and
  // every test process would start its threads again for a few small frames.
  // Tests render in the calling thread and compile afresh each time, the same
  // on every machine.
  setenv("LP_NUM_THREADS", "0", 0);
  setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
  ::testing::InitGoogleTest(&argc, argv);
  return CheckLeaksAlone(RUN_ALL_TESTS());
}
