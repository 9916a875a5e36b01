// Linux: xdg-open, the desktop's own choice of browser. It is started in a
// process of its own and not waited for; a thread collects its exit status,
// so that no zombie is left, and says when it failed.
#include "platform/OpenUrl.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <thread>

#include "platform/Messages.h"

extern char** environ;

bool OpenInBrowser(const std::string& url, std::string& why) {
  pid_t pid = 0;
  const char* argv[] = {"xdg-open", url.c_str(), nullptr};
  const int error = posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ);
  if (error != 0) {
    why = std::string("cannot start xdg-open: ") + std::strerror(error);
    return false;
  }
  std::thread([pid] {
    int status = 0;
    if (waitpid(pid, &status, 0) == pid && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
      Say(Subsystem::Studio, "xdg-open could not open the studio; open the address above yourself");
    }
  }).detach();
  return true;
}
