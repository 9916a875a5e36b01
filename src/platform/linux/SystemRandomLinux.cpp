// Linux: getrandom(2), which blocks only until the kernel's generator has
// been seeded once after boot; /dev/urandom for kernels older than 3.17.
#include "platform/SystemRandom.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

bool SystemRandomBytes(void* out, std::size_t size, std::string& why) {
  unsigned char* bytes = static_cast<unsigned char*>(out);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = getrandom(bytes + done, size - done, 0);
    if (got > 0) {
      done += std::size_t(got);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  if (done == size) return true;
  const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = std::string("no random bytes from the system: ") + std::strerror(errno);
    return false;
  }
  done = 0;
  while (done < size) {
    const ssize_t got = read(fd, bytes + done, size - done);
    if (got > 0) {
      done += std::size_t(got);
    } else if (!(got < 0 && errno == EINTR)) {
      break;
    }
  }
  close(fd);
  if (done == size) return true;
  why = "/dev/urandom gave too few bytes";
  return false;
}
